// A run of the latency test and its stream over a fake system and client.
#include "urltest/url_test_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "server/log_journal.h"
#include "urltest/testing/fake_client.h"
#include "urltest/url_test_registry.h"

namespace pelno {
namespace {

using testing::FakeClient;

const std::string kV2 = "PELNOVPN_URLTEST_V2\n";

// The system under a run, fake: "slow..." nodes measure 2 s unless their run stops
// (then at once), the others `measureTime`; it counts the engines running at once
// over all runs. `failing` names the step that fails; at most `threads` workers start
// in all.
struct FakeSystem : UrlTestPlatform {
  explicit FakeSystem(std::string failing = "", std::size_t threads = SIZE_MAX)
      : failing(std::move(failing)), threads(threads) {}
  void Run(const std::string& body, FakeClient& client) {
    RunUrlTestStream(body, client, *this, registry, journal);
  }

  bool CreateDataDirectory() override { return failing != "directory"; }
  std::wstring MakeConfigPath() override { return L"run.json"; }
  bool WriteConfig(const std::wstring&, std::string_view, std::string& error) override {
    return (error = "WriteFile failed: 5", failing != "write");
  }
  void DeleteConfig(const std::wstring& path) override { deleted = path; }
  bool MeasureNode(const std::wstring&, UrlTestRegistry::RunId run, const std::string& tag,
                   const std::string&, NodeMeasurement& m) override {
    bool ended = false;  // the engine, terminated by a stop of its run
    const bool registered = registry.RegisterRunProcess(run, &ended);
    {
      std::unique_lock lock(mutex);
      measured.push_back(tag);
      most = std::max(most, ++running);
      changed.notify_all();
      const bool slow = tag.starts_with("slow");
      const bool cut = changed.wait_for(lock, slow ? std::chrono::milliseconds(2000) : measureTime,
                                        [&] { return ended || !registered; });
      cutShort += slow && cut;
      --running;
    }
    registry.UnregisterRunProcess(run, &ended);
    return (m.delayMs = 7);
  }
  std::thread StartWorker(std::function<void()> work) override {
    if (started == threads) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return ++started, std::thread(std::move(work));
  }
  bool WaitForRunning(std::size_t engines) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return running == engines; });
  }

  std::string failing;
  const std::size_t threads;
  std::atomic<std::size_t> started = 0;
  std::chrono::milliseconds measureTime{0};
  std::wstring deleted;
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t running = 0, most = 0, cutShort = 0;
  std::vector<std::string> measured;
  UrlTestRegistry registry{[this](UrlTestRegistry::ProcessRef engine) {
    std::lock_guard lock(mutex);
    *static_cast<bool*>(engine) = true;
    changed.notify_all();
  }};
  LogJournal journal;
};

// A version 2 body with configuration {}.
std::string Body(const std::string& requestId, const std::vector<std::string>& tags) {
  const auto field = [](const std::string& v) { return std::to_string(v.size()) + "\n" + v + "\n"; };
  std::string body = kV2 + field(requestId) + field("u") + std::to_string(tags.size()) + "\n";
  for (const std::string& tag : tags) body += field(tag);
  return body + field("{}");
}

std::vector<std::string> Tags(const std::string& prefix, std::size_t count) {
  std::vector<std::string> tags;
  for (std::size_t i = 0; i < count; ++i) tags.push_back(prefix + std::to_string(i));
  return tags;
}

const std::string kFiveNodes = kV2 + "3\nr\n9\n1\nu\n5\n1\na\n1\nb\n1\na\n1\nc\n1\nd\n2\n{}";
const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n";

TEST(RunUrlTestStream, GoesOnWithTheWorkersItCouldStartOrOnTheHandlerThread) {
  for (const std::size_t threads : {1u, 0u}) {
    FakeSystem run("", threads);
    FakeClient client;
    run.Run(kFiveNodes, client);
    ASSERT_EQ(client.sent.size(), 6u);
    EXPECT_EQ(client.sent[0], kHead);
    EXPECT_EQ(std::count(client.sent.begin(), client.sent.end(), "{\"nodeTag\":\"a\",\"delayMs\":7}\n"), 2);
    EXPECT_EQ(run.deleted, L"run.json");
    const std::string log = run.journal.ReadLogJournal();
    EXPECT_NE(log.find("URLTest started " + std::to_string(threads) + " of 5 workers ("), std::string::npos);
    EXPECT_LT(log.find("URLTest stream started for 5 nodes, requestId=r\\n9\r\n"),
              log.find("URLTest stream completed for 5 nodes\r\n"));
    EXPECT_EQ(HandleCancelUrlTest("r\n9", run.registry, run.journal), "{\"status\":\"canceled\"}");
    EXPECT_NE(run.journal.ReadLogJournal().find("cancel requested: r\\n9, processes=0\r\n"), std::string::npos);
    EXPECT_EQ(HandleCancelUrlTest("", run.registry, run.journal), "{\"status\":\"ignored\"}");  // a version 1 run
  }
}

// A client that takes no more results (gone, or silent for the connection's send
// time-out) abandons its run: the engines running are ended at once, nothing more is
// measured or sent, the file goes and the log says so.
TEST(RunUrlTestStream, AFailedSendAbandonsTheRun) {
  std::vector<std::string> tags = Tags("slow", 29);
  tags.insert(tags.begin(), "fast");
  for (const std::size_t accepted : {0u, 1u}) {  // the head, or the first result, fails
    FakeSystem run;
    FakeClient client;
    client.accepted = accepted;
    run.Run(Body("r", tags), client);
    EXPECT_EQ(run.cutShort, run.measured.size() - (accepted == 0 ? 0 : 1));
    EXPECT_EQ(run.deleted, L"run.json");
    const std::string log = run.journal.ReadLogJournal();
    EXPECT_NE(log.find("] URLTest stream abandoned for 30 nodes, requestId=r: a result could not be sent"),
              std::string::npos) << log;
    EXPECT_EQ(log.find("completed"), std::string::npos);
  }
}

// A cancel frees a run whose send waits on a client that never reads.
TEST(RunUrlTestStream, ACancelFreesARunStalledInASend) {
  FakeSystem run;
  FakeClient client;
  client.accepted = 2;
  client.stall = true;
  auto stream = std::async(std::launch::async, [&] { run.Run(Body("r", {"a", "b", "c"}), client); });
  {
    std::unique_lock lock(client.mutex);
    ASSERT_TRUE(client.changed.wait_for(lock, std::chrono::seconds(5), [&] { return client.stalled; }));
  }
  HandleCancelUrlTest("r", run.registry, run.journal);
  const bool freed = stream.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!freed) client.Interrupt();  // lets the stalled send go, so that the test can end
  EXPECT_TRUE(freed);
  stream.get();
  EXPECT_EQ(client.sent.size(), 2u);
  EXPECT_NE(run.journal.ReadLogJournal().find("URLTest stream completed for 3 nodes"), std::string::npos);
}

// A run measures its nodes at once, up to its workers; engines of all runs together
// take at most the helper's places, and a canceled run that waits for places ends
// without measuring.
TEST(RunUrlTestStream, RunsShareTheHelpersEnginePlaces) {
  FakeSystem system;
  system.measureTime = std::chrono::milliseconds(200);
  for (const std::size_t nodes : {3u, 30u}) {
    FakeClient client;
    system.Run(Body("r", Tags("n", nodes)), client);
    EXPECT_EQ(system.most, std::min(nodes, kMaxUrlTestWorkers));
  }
  system.measureTime = std::chrono::milliseconds(50);
  FakeClient clients[5];
  std::vector<std::future<void>> runs;
  for (int i = 0; i < 5; ++i)
    runs.push_back(std::async(std::launch::async, [&, i] { system.Run(Body("r", Tags("n", 12)), clients[i]); }));
  for (auto& run : runs) run.get();
  EXPECT_LE(system.most, kMaxFetchEngines);  // reaching it is timing: the holders below prove it
  for (const FakeClient& client : clients) EXPECT_EQ(client.sent.size(), 13u);

  FakeClient holders[2], waiter;
  runs.clear();
  for (FakeClient& holder : holders)
    runs.push_back(std::async(std::launch::async, [&] { system.Run(Body("h", Tags("slow h", 12)), holder); }));
  ASSERT_TRUE(system.WaitForRunning(kMaxFetchEngines));
  auto waiting = std::async(std::launch::async, [&] { system.Run(Body("w", Tags("slow w", 12)), waiter); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  HandleCancelUrlTest("w", system.registry, system.journal);
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(1)), std::future_status::ready);
  HandleCancelUrlTest("h", system.registry, system.journal);
  for (auto& run : runs) run.get();
  const auto waiterTag = [](const std::string& tag) { return tag.starts_with("slow w"); };
  EXPECT_EQ(std::count_if(system.measured.begin(), system.measured.end(), waiterTag), 0);
}

TEST(RunUrlTestStream, AnswersUnusableRequestsWithTheEmptyReply) {
  const std::string cases[][3] = {  // body, failing step, log line
      {"PELNOVPN_URLTEST_V3\n"}, {kV2 + "0\n1\nu\n1\n1\nA\n0\n"}, {kV2 + "0\n1\nu\n1\n0\n2\n{}"},
      {kV2 + "1\nr\n1\nu\n1\n1\nA\n26\n{\"log\":{\"output\":\"C:\\\\x\"}}", "",
       "URLTest Configuration refused: log.output must be a relative path inside the data directory"},
      {kFiveNodes, "directory", "URLTest failed to create runtime directory"},
      {kFiveNodes, "write", "URLTest failed to write config: WriteFile failed: 5"}};
  for (const auto& [body, failing, logged] : cases) {
    FakeSystem run(failing);
    FakeClient client;
    run.Run(body, client);
    EXPECT_EQ(client.sent, std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\n"
                                                 "Content-Length: 0\r\nConnection: close\r\n\r\n"});
    const std::string log = run.journal.ReadLogJournal();
    EXPECT_EQ(log.empty() ? "" : log.substr(22, log.size() - 24), logged);
  }
}

}  // namespace
}  // namespace pelno
