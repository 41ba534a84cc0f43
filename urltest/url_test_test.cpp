#include <gtest/gtest.h>

#include <future>
#include <string>
#include <system_error>
#include <vector>

#include "server/log_journal.h"
#include "server/response_channel.h"
#include "urltest/fetch_command_line.h"
#include "urltest/url_test_registry.h"
#include "urltest/url_test_stream.h"

namespace pelno {
namespace {

const std::string kV2 = "PELNOVPN_URLTEST_V2\n", kExample = kV2 + "2\nr1\n1\nu\n1\n1\nA\n2\n{}";

// "requestId|testUrl|tag,tag|config", or "refused".
std::string Parsed(const std::string& body) {
  UrlTestRequest r;
  if (!ParseUrlTestRequest(body, r)) return "refused";
  std::string tags;
  for (const std::string& tag : r.nodeTags) tags += (tags.empty() ? "" : ",") + tag;
  return r.requestId + "|" + r.testUrl + "|" + tags + "|" + r.config;
}

TEST(UrlTestRequest, ParsesBothVersionsAndRefusesMalformedBodies) {
  const std::pair<std::string, std::string> cases[] = {
      {kExample, "r1|u|A|{}"},
      {kExample + "\nanything", "r1|u|A|{}"},
      {kV2 + "2\nr11\nu1\n1\nA2\n{}", "r1|u|A|{}"},  // optional line feeds absent
      {"PELNOVPN_URLTEST_V1\n1\nu\n1\n1\nA\n2\n{}", "|u|A|{}"},
      {kV2 + "0\n1\nu\n4\n0\n1\nA\n0\n1\nA\n2\n{}", "|u|A,A|{}"},
      {kV2 + "0\n1\nu\n1\n0\n0\n", "|u||"},  // no tag, no config: the run refuses it
      {kV2 + "2\n\"\n3\nu\"\n1\n4\na\nb\"3\n{\n}", "\"\n|u\"\n|a\nb\"|{\n}"},
      {"PELNOVPN_URLTEST_V2", "refused"},
      {"\xEF\xBB\xBF" + kExample, "refused"},
      {" " + kExample, "refused"},
      {kV2 + "2\nr1\n1\nu\n1\n1\nA\n3\n{}", "refused"},   // length past the end
      {kV2 + "2\nr1\n1\nu\n2\n1\nA\n2\n{}", "refused"},   // count beyond the fields
      {kV2 + "-1\nr1\n1\nu\n1\n1\nA\n2\n{}", "refused"},  // -1 is 4294967295
      {kV2 + "2\nr1\n1\nu\n1", "refused"},
  };
  for (const auto& [body, parsed] : cases) EXPECT_EQ(Parsed(body), parsed) << body;
  EXPECT_EQ(std::pair(ReadUnsigned32(" +12x"), ReadUnsigned32("99999999999")), std::pair(12u, 4294967295u));
}

// The C runtime's (and CommandLineToArgvW's) reading of the arguments after the
// program name: 2n backslashes before a quote give n and the quote opens or closes a
// quoted part, 2n+1 give n and a literal quote, other backslashes are literal. The
// "" inside a quoted part, which the readers take differently, is left out: a quoting
// that leaned on it would fail here.
std::vector<std::wstring> SplitArguments(std::wstring_view line) {
  std::vector<std::wstring> args;
  for (std::size_t i = 0;;) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i == line.size()) return args;
    std::wstring& arg = args.emplace_back();
    for (bool quoted = false; i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'));) {
      std::size_t backslashes = 0;
      for (; i < line.size() && line[i] == L'\\'; ++i) ++backslashes;
      if (i < line.size() && line[i] == L'"') {
        arg.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) arg += L'"';
        else quoted = !quoted;
        ++i;
      } else {
        arg.append(backslashes, L'\\');
        if (backslashes == 0) arg += line[i++];
      }
    }
  }
}

// Each node tag reaches the engine as exactly one argument, whatever it holds.
TEST(FetchCommandLine, QuotesEachTextSoTheEngineReadsItBack) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"A", LR"("A")"},
      {L"plain tag", LR"("plain tag")"},
      {L"a\tb", L"\"a\tb\""},
      {LR"(a"b)", LR"("a\"b")"},
      {LR"(a" run -c "x)", LR"("a\" run -c \"x")"},
      {LR"(")", LR"("\"")"},
      {LR"(ends\)", LR"("ends\\")"},
      {LR"(C:\dir\x)", LR"("C:\dir\x")"},
      {LR"(a\"b)", LR"("a\\\"b")"},
      {LR"(a\\"b)", LR"("a\\\\\"b")"},
      {LR"(\\\)", LR"("\\\\\\")"},
      {L"", LR"("")"},
  };
  const std::wstring engine = LR"(C:\Program Files\PelnoVPN\sing-box.exe)";
  for (const auto& [text, quoted] : cases) {
    EXPECT_EQ(QuoteCommandLineArgument(text), quoted) << text;
    EXPECT_EQ(SplitArguments(UrlTestFetchCommandLine(engine, L"run 1.json", text, text)),
              (std::vector<std::wstring>{engine, L"--disable-color", L"-c", L"run 1.json", L"tools", L"-o", text,
                                         L"fetch", text}))
        << text;
  }
}

TEST(UrlTestRegistry, CancelTerminatesRegisteredEnginesUnderTheLockOnly) {
  std::vector<UrlTestRegistry::ProcessRef> terminated;
  std::vector<std::future<void>> closing;
  UrlTestRegistry* self = nullptr;
  int a = 0, b = 0, late = 0;
  UrlTestRegistry registry([&](UrlTestRegistry::ProcessRef p) {
    terminated.push_back(p);
    // The worker that owns the handle cannot unregister (and close) it meanwhile.
    closing.push_back(std::async(std::launch::async, [&, p] { self->UnregisterRunProcess("r", p); }));
    EXPECT_EQ(closing.back().wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  });
  self = &registry;
  EXPECT_EQ(registry.CancelRun("r"), 0u);  // not running: forgotten
  registry.ResetRunMarks("r");
  EXPECT_TRUE(!registry.IsRunCanceled("r") && registry.RegisterRunProcess("r", &a));
  registry.RegisterRunProcess("r", &b);
  registry.UnregisterRunProcess("r", &a);
  EXPECT_EQ(registry.CancelRun("r"), 1u);
  EXPECT_EQ(terminated, std::vector<UrlTestRegistry::ProcessRef>{&b});
  EXPECT_FALSE(registry.RegisterRunProcess("r", &late));  // launched after the cancel
  registry.EndRun("r");
  EXPECT_FALSE(registry.IsRunCanceled("r"));
}

// One run against a fake system: every node measures 7 ms, `failing` names the step
// that fails, at most `threads` workers start, and the client has gone.
struct FakeRun : ResponseChannel, UrlTestPlatform {
  FakeRun(const std::string& body, std::string failing, std::size_t threads = 12)
      : failing(std::move(failing)), threads(threads) {
    RunUrlTestStream(body, *this, *this, registry, journal);
  }
  bool Send(std::string_view bytes) override {
    std::lock_guard lock(mutex);
    return (sent.emplace_back(bytes), false);
  }
  bool CreateDataDirectory() override { return failing != "directory"; }
  std::wstring MakeConfigPath() override { return L"run.json"; }
  bool WriteConfig(const std::wstring&, std::string_view, std::string& error) override {
    return (error = "WriteFile failed: 5", failing != "write");
  }
  void DeleteConfig(const std::wstring& path) override { deleted = path; }
  bool MeasureNode(const std::wstring&, const UrlTestRequest&, const std::string&, NodeMeasurement& m) override {
    return (m.delayMs = 7);
  }
  std::thread StartWorker(std::function<void()> work) override {
    if (started == threads) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return ++started, std::thread(std::move(work));
  }
  std::string failing;
  std::size_t threads, started = 0;
  std::wstring deleted;
  std::mutex mutex;
  std::vector<std::string> sent;
  UrlTestRegistry registry{[](UrlTestRegistry::ProcessRef) {}};
  LogJournal journal;
};

const std::string kFiveNodes = kV2 + "3\nr\n9\n1\nu\n5\n1\na\n1\nb\n1\na\n1\nc\n1\nd\n2\n{}";

TEST(RunUrlTestStream, GoesOnWithTheWorkersItCouldStartOrOnTheHandlerThread) {
  for (const std::size_t threads : {1u, 0u}) {
    FakeRun run(kFiveNodes, "", threads);
    ASSERT_EQ(run.sent.size(), 6u);
    EXPECT_EQ(run.sent[0], "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(std::count(run.sent.begin(), run.sent.end(), "{\"nodeTag\":\"a\",\"delayMs\":7}\n"), 2);
    EXPECT_EQ(run.deleted, L"run.json");
    const std::string log = run.journal.ReadLogJournal();
    EXPECT_NE(log.find("URLTest started " + std::to_string(threads) + " of 5 workers ("), std::string::npos);
    EXPECT_LT(log.find("URLTest stream started for 5 nodes, requestId=r\\n9\r\n"),
              log.find("URLTest stream completed for 5 nodes\r\n"));
    EXPECT_EQ(HandleCancelUrlTest("r\n9", run.registry, run.journal), "{\"status\":\"canceled\"}");
    EXPECT_NE(run.journal.ReadLogJournal().find("cancel requested: r\\n9, processes=0\r\n"), std::string::npos);
  }
}

TEST(RunUrlTestStream, AnswersUnusableRequestsWithTheEmptyReply) {
  const std::string cases[][3] = {  // body, failing step, log line
      {"PELNOVPN_URLTEST_V3\n"}, {kV2 + "0\n1\nu\n1\n1\nA\n0\n"}, {kV2 + "0\n1\nu\n1\n0\n2\n{}"},
      {kV2 + "1\nr\n1\nu\n1\n1\nA\n26\n{\"log\":{\"output\":\"C:\\\\x\"}}", "",
       "URLTest Configuration refused: log.output must be a relative path inside the data directory"},
      {kFiveNodes, "directory", "URLTest failed to create runtime directory"},
      {kFiveNodes, "write", "URLTest failed to write config: WriteFile failed: 5"}};
  for (const auto& [body, failing, logged] : cases) {
    FakeRun run(body, failing);
    EXPECT_EQ(run.sent, std::vector<std::string>{"HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\n"
                                                 "Content-Length: 0\r\nConnection: close\r\n\r\n"});
    const std::string log = run.journal.ReadLogJournal();
    EXPECT_EQ(log.empty() ? "" : log.substr(22, log.size() - 24), logged);
  }
}

}  // namespace
}  // namespace pelno
