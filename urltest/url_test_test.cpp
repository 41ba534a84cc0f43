#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <system_error>

#include "helper/log_journal.h"
#include "helper/route_dispatch.h"
#include "urltest/url_test_registry.h"
#include "urltest/url_test_request.h"
#include "urltest/url_test_stream.h"

namespace pelno {
namespace {

using Tags = std::vector<std::string>;
const std::string kExample = "PELNOVPN_URLTEST_V2\n2\nr1\n1\nu\n1\n1\nA\n2\n{}";

TEST(UrlTestRequest, ParsesBothVersionsAndRefusesMalformedBodies) {
  struct Case {
    std::string body;
    std::string requestId, testUrl;
    Tags tags;
    std::string config;
  };
  const Case cases[] = {
      {kExample, "r1", "u", {"A"}, "{}"},
      {kExample + "\nanything", "r1", "u", {"A"}, "{}"},
      {"PELNOVPN_URLTEST_V2\n2\nr11\nu1\n1\nA2\n{}", "r1", "u", {"A"}, "{}"},
      {"PELNOVPN_URLTEST_V1\n1\nu\n1\n1\nA\n2\n{}", "", "u", {"A"}, "{}"},
      {"PELNOVPN_URLTEST_V2\n0\n1\nu\n4\n0\n1\nA\n0\n1\nA\n2\n{}", "", "u", {"A", "A"}, "{}"},
      {"PELNOVPN_URLTEST_V2\n0\n1\nu\n1\n0\n0\n", "", "u", {}, ""},
      {"PELNOVPN_URLTEST_V2\n2\n\"\n3\nu\"\n1\n4\na\nb\"3\n{\n}", "\"\n", "u\"\n", {"a\nb\""}, "{\n}"},
  };
  for (const Case& c : cases) {
    UrlTestRequest request;
    ASSERT_TRUE(ParseUrlTestRequest(c.body, request)) << c.body;
    EXPECT_EQ(request.requestId, c.requestId) << c.body;
    EXPECT_EQ(request.testUrl, c.testUrl) << c.body;
    EXPECT_EQ(request.nodeTags, c.tags) << c.body;
    EXPECT_EQ(request.config, c.config) << c.body;
  }
  const std::string refused[] = {
      "PELNOVPN_URLTEST_V2",
      "\xEF\xBB\xBF" + kExample,
      " " + kExample,
      "PELNOVPN_URLTEST_V2\n2\nr1\n1\nu\n1\n1\nA\n3\n{}",   // length past the end
      "PELNOVPN_URLTEST_V2\n2\nr1\n1\nu\n2\n1\nA\n2\n{}",   // count beyond the fields
      "PELNOVPN_URLTEST_V2\n-1\nr1\n1\nu\n1\n1\nA\n2\n{}",  // -1 reads as 4294967295
      "PELNOVPN_URLTEST_V2\n2\nr1\n1\nu\n1",                   // no count line end
  };
  for (const std::string& body : refused) {
    UrlTestRequest request;
    EXPECT_FALSE(ParseUrlTestRequest(body, request)) << body;
  }
  EXPECT_EQ(ReadUnsigned32(" +12x"), 12u);
  EXPECT_EQ(ReadUnsigned32("99999999999"), 4294967295u);
  EXPECT_EQ(ReadUnsigned32("-2"), 4294967294u);
}

TEST(UrlTestRegistry, CancelTerminatesRegisteredEnginesUnderTheLockOnly) {
  std::vector<UrlTestRegistry::ProcessRef> terminated;
  UrlTestRegistry* self = nullptr;
  std::vector<std::future<void>> unregistering;
  int a = 0, b = 0, late = 0;
  UrlTestRegistry registry([&](UrlTestRegistry::ProcessRef p) {
    terminated.push_back(p);
    // A worker closing its handle must wait until the termination is over.
    unregistering.push_back(std::async(std::launch::async, [&, p] { self->UnregisterRunProcess("r", p); }));
    EXPECT_EQ(unregistering.back().wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  });
  self = &registry;
  EXPECT_EQ(registry.CancelRun("r"), 0u);  // not running: forgotten
  registry.ResetRunMarks("r");
  EXPECT_FALSE(registry.IsRunCanceled("r"));
  registry.RegisterRunProcess("r", &a);
  registry.RegisterRunProcess("r", &b);
  registry.UnregisterRunProcess("r", &a);
  EXPECT_EQ(registry.CancelRun("r"), 1u);
  EXPECT_EQ(terminated, std::vector<UrlTestRegistry::ProcessRef>{&b});
  EXPECT_TRUE(registry.IsRunCanceled("r"));
  EXPECT_FALSE(registry.RegisterRunProcess("r", &late));  // launched after the cancel
  registry.EndRun("r");
  EXPECT_FALSE(registry.IsRunCanceled("r"));
  registry.ResetRunMarks("");
  EXPECT_EQ(registry.CancelRun(""), 0u);
}

class Recorder : public ResponseChannel {
 public:
  bool Send(std::string_view bytes) override {
    std::lock_guard lock(mutex);
    sent.emplace_back(bytes);
    return false;  // as if the client had gone
  }
  std::mutex mutex;
  std::vector<std::string> sent;
};

// Measures every node as 7 ms; starts at most `threadLimit` workers.
class FakePlatform : public UrlTestPlatform {
 public:
  bool CheckConfig(std::string_view, std::string& reason) override {
    reason = "refused";
    return checkOk;
  }
  bool CreateDataDirectory() override { return directoryOk; }
  std::wstring MakeConfigPath() override { return L"run.json"; }
  bool WriteConfig(const std::wstring& path, std::string_view, std::string& error) override {
    written = path;
    error = "WriteFile failed: 5";
    return writeOk;
  }
  void DeleteConfig(const std::wstring& path) override { deleted = path; }
  bool MeasureNode(const std::wstring&, const UrlTestRequest&, const std::string&,
                   NodeMeasurement& record) override {
    record.delayMs = 7;
    return true;
  }
  std::thread StartWorker(std::function<void()> work) override {
    if (started == threadLimit) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    ++started;
    return std::thread(std::move(work));
  }
  bool checkOk = true, directoryOk = true, writeOk = true;
  std::size_t threadLimit = 100, started = 0;
  std::wstring written, deleted;
};

std::string Body(std::size_t nodes, std::string config = "{}") {
  std::string body = "PELNOVPN_URLTEST_V2\n2\nr9\n1\nu\n" + std::to_string(nodes) + "\n";
  for (std::size_t i = 0; i < nodes; ++i) body += "2\nn" + std::to_string(i % 10) + "\n";
  return body + std::to_string(config.size()) + "\n" + config;
}

TEST(RunUrlTestStream, StreamsOneLinePerNodeWithTheWorkersItCanStart) {
  struct Case {
    std::size_t nodes, threadLimit, expectStarted;
  };
  for (const Case c : {Case{30, 100, 12}, Case{3, 100, 3}, Case{5, 1, 1}, Case{5, 0, 0}}) {
    FakePlatform platform;
    platform.threadLimit = c.threadLimit;
    UrlTestRegistry registry([](UrlTestRegistry::ProcessRef) {});
    LogJournal journal;
    Recorder channel;
    RunUrlTestStream(Body(c.nodes), channel, platform, registry, journal);
    EXPECT_EQ(platform.started, c.expectStarted) << c.nodes << " nodes";
    ASSERT_EQ(channel.sent.size(), c.nodes + 1);
    EXPECT_EQ(channel.sent[0], kUrlTestStreamHeader);
    EXPECT_EQ(channel.sent[1].substr(0, 11), "{\"nodeTag\":");
    EXPECT_EQ(std::count(channel.sent.begin(), channel.sent.end(), "{\"nodeTag\":\"n1\",\"delayMs\":7}\n"),
              c.nodes / 10 + (c.nodes % 10 > 1));
    EXPECT_EQ(platform.deleted, L"run.json");
    const std::string log = journal.ReadLogJournal();
    const std::size_t start = log.find("URLTest stream started for " + std::to_string(c.nodes) + " nodes, requestId=r9\r\n");
    EXPECT_LT(start, log.find("URLTest stream completed for " + std::to_string(c.nodes) + " nodes\r\n"));
    EXPECT_EQ(log.find(" workers (") != std::string::npos, c.threadLimit < c.nodes);
  }
}

TEST(RunUrlTestStream, AnswersUnusableRequestsWithTheEmptyReply) {
  struct Case {
    std::string body;
    void (*set)(FakePlatform&);
    std::string logged;  // empty: nothing logged
  };
  const Case cases[] = {
      {"PELNOVPN_URLTEST_V3\n", nullptr, ""},
      {Body(2, ""), nullptr, ""},
      {Body(0), nullptr, ""},
      {Body(1), [](FakePlatform& p) { p.checkOk = false; }, "URLTest refused config: refused"},
      {Body(1), [](FakePlatform& p) { p.directoryOk = false; }, "URLTest failed to create runtime directory"},
      {Body(1), [](FakePlatform& p) { p.writeOk = false; }, "URLTest failed to write config: WriteFile failed: 5"},
  };
  for (const Case& c : cases) {
    FakePlatform platform;
    if (c.set) c.set(platform);
    UrlTestRegistry registry([](UrlTestRegistry::ProcessRef) {});
    LogJournal journal;
    Recorder channel;
    RunUrlTestStream(c.body, channel, platform, registry, journal);
    EXPECT_EQ(channel.sent, std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\n"
                                                     "Content-Length: 0\r\nConnection: close\r\n\r\n"});
    const std::string log = journal.ReadLogJournal();
    EXPECT_EQ(log.empty(), c.logged.empty()) << log;
    EXPECT_TRUE(c.logged.empty() || log.find(c.logged + "\r\n") != std::string::npos) << log;
    EXPECT_EQ(platform.started, 0u);
  }
}

}  // namespace
}  // namespace pelno
