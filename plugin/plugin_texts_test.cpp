// The plug-in's portable logic: the helper's texts as it reads and writes them (field
// readers, the latency test body, status and traffic snapshot maps), and over a fake
// transport the latency test, its cancel, the launched-helper slot, the check of the
// program on the helper's port, the provisioning before a TUN start and, over a fake
// engine runtime too, the connection controller.
#include "plugin/json_text_fields.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <tuple>

#include "engine/testing/fake_location_platform.h"
#include "engine/testing/fake_session_runtime.h"
#include "plugin/helper_listener_check.h"
#include "plugin/helper_provisioning.h"
#include "plugin/latency_client.h"
#include "plugin/latency_stream.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_helper_listener_platform.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/vpn_controller.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Entries;
using testing::FakeHelperTransport;
using testing::Map;

TEST(JsonStringFieldTest, ReadsAndDecodesAsTheHelperEscapes) {
  const std::pair<std::string_view, std::string> cases[] = {
      {R"({"message":"a\nb\tc\bd\fe\rf"})", "a\nb\tc\bd\fe\rf"},
      {R"({"message":"tag\u0009x\u001F"})", "tag\tx\x1F"},
      {R"({"message":"\u00e9\u20AC\ud83d\ude00"})", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {R"({"message":"\ud83dx\ude00"})", "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      // The surrogate ranges' edges: D800-DBFF then DC00-DFFF pair; alone each is U+FFFD.
      {R"({"message":"\ud800\udc00\udbff\udfff"})", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {R"({"message":"\ud7ff\udc00\udfff\ue000"})", "\xED\x9F\xBF\xEF\xBF\xBD\xEF\xBF\xBD\xEE\x80\x80"},
      {R"({"message":"\"q\" \\ \/ \uZZ"})", "\"q\" \\ / uZZ"}, {R"({"message": "v"})", ""},
      {R"({"message":"unterminated)", ""}, {R"({"message":"ends with \)", ""},
      {R"({"outer":{"message":"caf)" "\xC3\xA9\"}}", "caf\xC3\xA9"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(JsonStringField(text, "message"), expected) << text;
}

TEST(JsonIntFieldTest, ReadsSigned32BitNumbers) {
  const std::pair<std::string_view, std::int32_t> cases[] = {
      {R"({"delayMs": 42})", 42}, {R"({"delayMs":-7,)", -7},     {R"({"delayMs":-})", 0},
      {R"({"delayMs":-)", 0},     {R"({"delayMs":null})", 99},   {R"({"delayMs":"5"})", 99},
      {R"({"delayMs":)", 99},     {R"({"other":1})", 99},        {R"({"delayMs":99999999999})", 2147483647},
      {R"({"delayMs":-99999999999})", -2147483647 - 1},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(JsonIntField(text, "delayMs", 99), expected) << text;
}

TEST(LatencyStreamTest, BodyCountsEveryText) {
  EXPECT_EQ(BuildUrlTestBody("r1", "http://u/", {"A", "\xC3\xA9"}, "{}"),
            "PELNOVPN_URLTEST_V2\n2\nr1\n9\nhttp://u/\n2\n1\nA\n2\n\xC3\xA9\n2\n{}");
}

EncodableValue Entry(const char* name, std::int64_t total, const char* host) {
  const EncodableValue zero(std::int64_t{0});
  return Map({{"processName", EncodableValue(name)}, {"policy", EncodableValue("")}, {"totalBytes", EncodableValue(total)},
              {"uploadBytesPerSecond", zero}, {"downloadBytesPerSecond", zero}, {"durationSeconds", zero},
              {"status", EncodableValue("")}, {"method", EncodableValue("")}, {"host", EncodableValue(host)}});
}

EncodableValue Snapshot(EncodableList processes) {
  const EncodableValue zero(std::int64_t{0});
  return Map({{"uploadBytesPerSecond", EncodableValue(std::int64_t{5})}, {"downloadBytesPerSecond", zero},
              {"uploadTotalBytes", zero}, {"downloadTotalBytes", EncodableValue(std::int64_t{9000000000})},
              {"processes", EncodableValue(std::move(processes))}});
}

TEST(TrafficSnapshotMapTest, EntriesInOrderWithEveryKeyAndCutEntriesDropped) {
  const std::string head = R"({"uploadBytesPerSecond":5,"downloadTotalBytes":9000000000,"processes":[)";
  const std::string first = R"({"processName":"a \"q\".exe","totalBytes":7,"host":"h{1}"})";
  const std::string second = R"({"processName":"b.exe","extra":{"x":1}})";
  EXPECT_EQ(ParseTrafficSnapshot(head + first + "," + second + "]}"),
            Snapshot({Entry("a \"q\".exe", 7, "h{1}"), Entry("b.exe", 0, "")}));
  EXPECT_EQ(ParseTrafficSnapshot(head + first + R"(,{"processName":"c.exe","tot)"), Snapshot({Entry("a \"q\".exe", 7, "h{1}")}));
  const EncodableValue zero(std::int32_t{0});
  EXPECT_EQ(FallbackTrafficSnapshot(), Map({{"uploadBytesPerSecond", zero}, {"downloadBytesPerSecond", zero},
                                            {"uploadTotalBytes", zero}, {"downloadTotalBytes", zero},
                                            {"processes", EncodableValue(EncodableList{})}}));
}

TEST(StatusMapTest, RepliesAreReadWithTheirDefaults) {
  EXPECT_EQ(ParseStatusReply(R"({"status":"connected","platform":"x","message":"m\u0009"})", "d", "dm"),
            Map({{"status", EncodableValue("connected")}, {"platform", EncodableValue("windows")}, {"message", EncodableValue("m\t")}}));
  EXPECT_EQ(ParseStatusReply("{}", "disconnected", "dm"), MakeStatusMap("disconnected", "dm"));
  EXPECT_EQ(ParseStatusReply(R"({"status":"","message":"not found"})", "d", "dm"), MakeStatusMap("d", "not found"));
  EXPECT_EQ(StatusOf(MakeStatusMap("connected", "")), "connected");
}

flutter::EncodableMap LatencyArguments(EncodableList tags) {
  return Entries(Map({{"requestId", EncodableValue("r")}, {"runtimeConfig", EncodableValue("{}")},
                      {"testUrl", EncodableValue("")}, {"nodeTags", EncodableValue(std::move(tags))}}));
}

// A line split across pieces, a blank line, a line without delay, the last line
// without its line feed: each result goes out as soon as the piece with its line
// feed has been read, before the next piece is.
TEST(LatencyClientTest, ResultsGoOutAsTheirLinesArriveAndTheReplyKeepsTheLast) {
  FakeHelperTransport helper({{"", {{"{\"pad\":\"" + std::string(6000, 'a') + "\"}\n{\"nodeTag\":\"A\",\"de"},
                                     {"layMs\":5}\n\n{\"nodeTag\":\"C\"}\r\n{\"nodeTag\":\"A\",\"delayMs\":7}\n"},
                                     {R"({"nodeTag":"B\u0009","delayMs":1})"}}}});
  const LatencyClient client{helper, [] { return true; }, [] { return true; }};
  std::vector<std::tuple<std::string, std::int32_t, int>> events;  // tag, delay, pieces read by then
  const EncodableValue reply = RunLatencyTest(
      LatencyArguments({EncodableValue(1), EncodableValue(""), EncodableValue("A"), EncodableValue("B\t")}),
      [&](const std::string& tag, std::int32_t delay) { events.emplace_back(tag, delay, helper.piecesRead()); },
      client);
  const decltype(events) expected = {{"A", 5, 2}, {"C", 0, 2}, {"A", 7, 2}, {"B\t", 1, 3}};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(reply, Map({{"A", EncodableValue(7)}, {"B\t", EncodableValue(1)}, {"C", EncodableValue(0)}}));
  EXPECT_EQ(helper.log(), "POST /urltest " + BuildUrlTestBody("r", kDefaultTestUrl, {"A", "B\t"}, "{}") + ";");
}

TEST(LatencyClientTest, OnlyATestOrCancelWithWhatItNeedsReachesAHelper) {
  FakeHelperTransport helper(FakeHelperTransport::Replies{{"", {}}});
  int ensured = 0;
  bool helperAvailable = true, listenerIsHelper = true;
  const LatencyClient client{helper, [&] { return ++ensured, helperAvailable; }, [&] { return listenerIsHelper; }};
  const EncodableValue tags(EncodableList{EncodableValue("A")}), ignored = Map({{"status", EncodableValue("ignored")}});
  for (const EncodableValue& arguments : {Map({{"nodeTags", tags}}), Map({{"nodeTags", tags}, {"runtimeConfig", EncodableValue(5)}}),
                                          Map({{"nodeTags", EncodableValue("A")}, {"runtimeConfig", EncodableValue("{}")}})})
    EXPECT_EQ(RunLatencyTest(Entries(arguments), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(Entries(Map({{"requestId", EncodableValue(7)}})), client), ignored);
  EXPECT_EQ(ensured + helper.log().size(), 0u);
  const flutter::EncodableMap cancel = Entries(Map({{"requestId", EncodableValue("r\n1")}}));
  EXPECT_EQ(CancelLatencyTest(cancel, client), Map({{"status", EncodableValue("canceled")}}));
  listenerIsHelper = false;  // another program holds the port: the configuration stays here
  EXPECT_EQ(RunLatencyTest(LatencyArguments({EncodableValue("A")}), nullptr, client), Map({}));
  helperAvailable = false;  // none could be started
  EXPECT_EQ(RunLatencyTest(LatencyArguments({EncodableValue("A")}), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(cancel, client), ignored);
  EXPECT_EQ(helper.log(), "POST /cancel-urltest r\n1;");
}

// The helper program in memory: each start takes 50 ms, then the helper answers
// "/ping" (when `answers`) until it is ended or crashes.
struct FakeHelperProgram : HelperTransport, HelperLauncher {
  struct Process : HelperProcess {
    Process(FakeHelperProgram& program, int number) : program(program), number(number) {}
    std::uint32_t ProcessId() const override { return 7; }
    bool Crashed() const { return number <= program.crashedUpTo; }
    bool HasExited() const override { return exited || Crashed(); }
    void End() override { program.running -= !std::exchange(exited, true) && !Crashed(); }
    FakeHelperProgram& program;
    const int number;
    bool exited = false;
  };
  struct Pong : HelperReply {
    int Status() const override { return 200; }
    bool ReadChunk(std::string& chunk) override { return chunk = "pong", !std::exchange(read, true); }
    bool read = false;
  };
  std::unique_ptr<HelperReply> Send(std::string_view, std::string_view, std::string_view, HelperBound) override {
    return running > 0 && answers ? std::make_unique<Pong>() : nullptr;
  }
  std::unique_ptr<HelperProcess> Launch() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (onLaunch) onLaunch();
    ++launches;
    ++running;
    return std::make_unique<Process>(*this, launches);
  }
  void Sleep(std::uint32_t) override {}
  void CrashAll() { crashedUpTo = launches.load(), running = 0; }

  std::atomic<int> launches{0}, running{0}, crashedUpTo{0};
  std::atomic<bool> answers{true};
  std::function<void()> onLaunch;
};

// Six latency tests at once with no helper: one start, whose outcome all six share,
// and the clean-up ends it. Starts that don't answer are all kept until ended or
// found exited at the next start. A TUN connect's End waits for a launch under way,
// which finishes after End began and is ended at once; until Resume no helper is started.
TEST(LaunchedHelperSlotTest, CallersShareOneStartAndEveryStartIsEnded) {
  FakeHelperProgram program;
  LaunchedHelperSlot slot(program, program, 3);
  const auto sixAtOnce = [&slot] {
    std::atomic<int> answered{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 6; ++i) callers.emplace_back([&] { answered += slot.EnsureAnswering(); });
    for (std::thread& caller : callers) caller.join();
    return answered.load();
  };
  const auto state = [&] {
    return std::to_string(program.launches) + " started, " + std::to_string(program.running) + " running, " +
           std::to_string(slot.Held()) + " held";
  };
  EXPECT_EQ(sixAtOnce(), 6);
  EXPECT_EQ(state(), "1 started, 1 running, 1 held");
  slot.End();
  slot.Resume();
  program.answers = false;
  EXPECT_EQ(sixAtOnce(), 0);
  EXPECT_FALSE(slot.EnsureAnswering());
  EXPECT_EQ(state(), "3 started, 2 running, 2 held");
  program.CrashAll();
  EXPECT_FALSE(slot.EnsureAnswering());
  EXPECT_EQ(state(), "4 started, 1 running, 1 held");
  std::thread tunConnect;
  std::string whenEnded;
  program.onLaunch = [&] {  // End begins while this launch is under way
    tunConnect = std::thread([&] { slot.End(), whenEnded = state(); });
    for (int i = 0; i < 200 && program.running > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  EXPECT_FALSE(slot.EnsureAnswering());
  tunConnect.join();
  EXPECT_EQ(whenEnded, "5 started, 0 running, 0 held");
  program.onLaunch = nullptr;
  program.answers = true;
  EXPECT_FALSE(slot.EnsureAnswering());  // a latency test while the TUN connect runs
  EXPECT_EQ(state(), "5 started, 0 running, 0 held");
  slot.Resume();
  EXPECT_TRUE(slot.EnsureAnswering());
  slot.Close();
  EXPECT_FALSE(slot.EnsureAnswering());
  EXPECT_EQ(state(), "6 started, 0 running, 0 held");
}

// Every kind of listener on 127.0.0.1:17891 when a configuration is about to go out.
TEST(HelperListenerCheckTest, OnlyTheServiceOrAHelperStartedHereIsSentAConfiguration) {
  using enum ListenerVerdict;
  const struct {
    const char* kind;
    ListenerFacts facts;  // table read, owners, service, started here, under Wine
    ListenerVerdict verdict;
    bool sent, sentForTun;
  } cases[] = {
      {"the service", {true, {500}, 500, {}, false}, kService, true, true},
      {"a helper started here", {true, {812}, 500, {812}, false}, kLaunchedHelper, true, false},
      {"the service and a helper started here", {true, {812, 500}, 500, {812}, false}, kLaunchedHelper, true,
       false},
      {"another program", {true, {900}, 500, {812}, false}, kOtherProgram, false, false},
      {"another program beside the service", {true, {500, 900}, 500, {}, false}, kOtherProgram, false, false},
      {"a helper left by an earlier run, service stopped", {true, {812}, 0, {}, false}, kOtherProgram, false,
       false},
      {"owner 0 on Windows, service stopped", {true, {0}, 0, {}, false}, kOwnerUnknown, false, false},
      {"owner 0 under Wine", {true, {0}, 0, {}, true}, kUnchecked, true, true},
      {"socket table unreadable", {false, {}, 500, {}, true}, kOwnerUnknown, false, false},
      {"nothing listening", {true, {}, 500, {}, false}, kNoListener, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeHelperListener(c.facts), c.verdict) << c.kind;
    EXPECT_EQ(MaySendConfiguration(c.verdict, ConfigurationTarget::kLatencyTest), c.sent) << c.kind;
    EXPECT_EQ(MaySendConfiguration(c.verdict, ConfigurationTarget::kTun), c.sentForTun) << c.kind;
  }
}

TEST(HelperListenerCheckTest, UncheckedUnderWineIsSaidOnce) {
  testing::FakeHelperListenerPlatform platform;
  platform.owners = {0};
  platform.underWine = true;
  struct : LaunchedHelper {
    bool EnsureAnswering() override { return false; }
    void End() override {}
    void Resume() override {}
    void Close() override {}
    std::vector<std::uint32_t> RunningProcessIds() const override { return {}; }
  } none;
  HelperListenerCheck check(platform, none);
  EXPECT_EQ(check.Check(), ListenerVerdict::kUnchecked);
  EXPECT_EQ(check.Check(), ListenerVerdict::kUnchecked);
  EXPECT_EQ(platform.notes, std::string(kHelperCheckUnavailableNote) + "\n");
}

TEST(ProvisioningTest, RefusalsLeadToTheInstallerOrToTheirMessage) {
  const std::wstring kHelper = L"C:\\Apps\\Client\\PelnoVpnHelperService.exe", kEngine = L"C:\\Apps\\Client\\sing-box.exe";
  const std::wstring kCopy = L"C:\\PF\\PelnoVPN\\Service\\PelnoVpnHelperService.exe";
  const std::wstring kCopyEngine = L"C:\\PF\\PelnoVPN\\Service\\sing-box.exe";
  const std::string kCurrent = "manager open config manager open start ", kInstalled = "manager open config runas manager open start ";
  const struct {
    std::vector<std::uint32_t> openResults, startResults;
    int installerExitCode;
    bool answersOnceRunning;
    std::string error, calls;  // error empty: ready
    bool answering = false;    // before anything is done
    std::wstring installed = L"C:\\Apps\\Client\\PelnoVpnHelperService.exe --x";  // this program file, unquoted
    std::map<std::wstring, std::string> digests = {};  // the copy's and engines' files by their bytes
  } cases[] = {
      {{}, {}, 0, true, "", "", true},
      {{0, 5}, {}, 0, true, "", "manager open config manager open runas manager open start "},
      {{}, {5}, 0, true, "", "manager open config manager open start runas manager open start "},
      {{}, {1056}, 0, true, "", "manager open config manager open start "},
      {{1060}, {}, -1, true, "User canceled UAC or helper service install failed", "manager open runas "},
      {{1060}, {}, 1, true, "PelnoVpnHelperService install failed", "manager open runas "},
      {{}, {1058}, 0, true, "Failed to start PelnoVpnHelperService: error 1058", "manager open config manager open start "},
      {{}, {}, 0, false, "Windows helper service started but did not become ready", "manager open config manager open start "},
      // The protected copy: current with the helper's and the engine's bytes, else installed again.
      {{}, {}, 0, true, "", kCurrent, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kEngine, "e"}, {kCopyEngine, "e"}}},
      {{}, {}, 0, true, "", kCurrent, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kCopyEngine, "e"}}},
      {{}, {}, 0, true, "", kInstalled, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kEngine, "e2"}, {kCopyEngine, "e"}}},
      {{}, {}, 0, true, "", kInstalled, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kEngine, "e"}}},
      {{}, {}, 0, true, "", kInstalled, false, kCopy, {{kHelper, "h2"}, {kCopy, "h"}}},
  };
  for (const auto& c : cases) {
    testing::FakeLocationPlatform locations;
    locations.AddEntry(kHelper);
    if (c.digests.count(kEngine) != 0) locations.AddEntry(kEngine);
    FakeHelperTransport helper(c.answering ? FakeHelperTransport::Replies{{"", {{"pong"}}}} : FakeHelperTransport::Replies{});
    testing::FakeProvisioningPlatform fake;
    fake.helper = &helper;
    std::tie(fake.openResults, fake.startResults, fake.installerExitCode, fake.answersOnceRunning) =
        std::tie(c.openResults, c.startResults, c.installerExitCode, c.answersOnceRunning);
    fake.binaryPath = c.installed;
    fake.digests = c.digests;
    std::string error;
    EXPECT_EQ(EnsureHelperReady(error, {fake, locations, helper}), c.error.empty()) << c.calls;
    if (!c.error.empty()) { EXPECT_EQ(error, c.error); }
    EXPECT_EQ(fake.calls, c.calls);
  }
}

struct ControllerTest : ::testing::Test, LaunchedHelper, LocalTrafficSource {
  ControllerTest() {
    for (const wchar_t* file : {L"sing-box.exe", L"PelnoVpnHelperService.exe"}) locations.AddEntry(L"C:\\Apps\\Client\\" + std::wstring(file));
  }
  bool EnsureAnswering() override { return false; }
  void End() override { launched += "end "; }
  void Resume() override { launched += "resume "; }
  void Close() override { launched += Trail() + "close "; }
  std::string BuildSnapshot() override { return {}; }
  std::string Trail() {  // the engine's calls since the last
    std::string trail;
    for (const std::string& call : std::exchange(engine.calls, {})) trail += call + " ";
    return trail;
  }
  std::vector<std::uint32_t> RunningProcessIds() const override { return {812}; }  // one that End missed
  static flutter::EncodableMap Connect(const char* config, const char* mode = "proxy", EncodableValue port = {}) {
    return Entries(Map({{"runtimeConfig", EncodableValue(config)}, {"accessMode", EncodableValue(mode)}, {"proxyPort", port}}));
  }

  std::string launched;
  testing::FakeLocationPlatform locations;
  testing::FakeRuntime engine;
  testing::FakeProvisioningPlatform provisioning;
  FakeHelperTransport helper;
  testing::FakeHelperListenerPlatform listener;
  VpnController controller{{locations, engine, provisioning, helper, *this, *this, listener}};
};

TEST(ProxyPortArgumentTest, OnlyPortsInRangeAreTaken) {
  const std::pair<EncodableValue, std::int32_t> cases[] = {
      {EncodableValue(0), 7897},      {EncodableValue(65536), 7897}, {EncodableValue(-1), 7897},
      {EncodableValue("8080"), 7897}, {EncodableValue(), 7897},      {EncodableValue(65535), 65535},
      {EncodableValue(std::int64_t{0x100001F90}), 8080}};
  for (const auto& [port, expected] : cases) EXPECT_EQ(ProxyPortArgument(Entries(Map({{"proxyPort", port}}))), expected);
}

TEST_F(ControllerTest, ProxySessionAnswersLocallyAndGivesTheUserTheirSettingsBack) {
  helper.replies = {{"/ping", {{"pong"}}}, {"", {{R"({"status":"disconnected","message":"m"})"}}}};
  EXPECT_EQ(controller.Connect(Connect("{}", "TUN", EncodableValue(2080))), MakeStatusMap("connected", "Windows sing-box connected"));
  EXPECT_TRUE(engine.enabledPort == 2080 && controller.GetStatus() == "connected");  // not the idle helper's
  EXPECT_EQ(StatusOf(controller.Connect(Connect(""))), "disconnected");
  EXPECT_TRUE(controller.GetStatus() == "connected" && controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(StatusOf(controller.Connect(Connect("{}"))), "connected");
  EXPECT_EQ(engine.enabledPort, 7897);
  engine.Forget();
  EXPECT_EQ(controller.Disconnect(), MakeStatusMap("disconnected", "Windows sing-box disconnected"));
  EXPECT_TRUE(engine.calls == (testing::Calls{"restore", "stop"}) && !controller.LocalEngineCarriesTraffic());
  ASSERT_EQ(StatusOf(controller.Connect(Connect("{}"))), "connected");
  engine.Forget();
  helper.onSend = [this](std::string_view path) { launched += Trail() + std::string(path) + " "; };
  controller.CleanUp();
  controller.CleanUp();
  EXPECT_EQ(launched, "restore stop close /stop ");  // the user's proxy back before the helper is asked
  EXPECT_EQ(helper.log(), "POST /stop ;POST /stop ;POST /stop ;POST /stop ;");  // by each connect and the clean-up
}

// A failed start leaves no local session, nor does an engine that dies (a disconnect
// asks the helper again); without an engine to start nothing is touched.
TEST_F(ControllerTest, FailuresAndTheEnginesExitEndTheProxySession) {
  ASSERT_EQ(StatusOf(controller.Connect(Connect("{}"))), "connected");
  engine.failures["start"] = "sing-box.exe exited immediately; check the subscription config";
  EXPECT_EQ(controller.Connect(Connect("{}")), MakeStatusMap("disconnected", engine.failures["start"]));
  EXPECT_FALSE(controller.LocalEngineCarriesTraffic());
  engine.failures.clear();
  ASSERT_EQ(StatusOf(controller.Connect(Connect("{}"))), "connected");
  engine.exitReport(1);
  EXPECT_FALSE(controller.GetStatus() == "connected" || controller.LocalEngineCarriesTraffic());
  helper.replies = {{"", {{R"({"status":"disconnected","message":"helper"})"}}}};
  EXPECT_EQ(controller.Disconnect(), MakeStatusMap("disconnected", "helper"));
  engine.Forget();
  locations.statusCodes.clear();
  EXPECT_TRUE(StatusOf(controller.Connect(Connect("{}"))) == "disconnected" && engine.calls.empty());
}

TEST_F(ControllerTest, TunConnectEndsTheProxySessionAndAPlainHelperFirst) {
  ASSERT_EQ(StatusOf(controller.Connect(Connect("{}"))), "connected");
  engine.Forget();
  provisioning.openResults = {1060};
  provisioning.installerExitCode = -1;
  EXPECT_EQ(controller.Connect(Connect("{}", "tun")), MakeStatusMap("disconnected", "User canceled UAC or helper service install failed"));
  EXPECT_EQ(launched, "end resume ");
  EXPECT_TRUE(engine.calls == (testing::Calls{"restore", "stop"}) && !controller.LocalEngineCarriesTraffic());

  helper.replies = {{"/ping", {{"pong"}}}, {"", {{R"({"status":"connected","message":"m"})"}}}};
  for (const auto& owners : {std::vector<std::uint32_t>{900}, {500, 812}}) {  // another user's program; a helper started here
    listener.owners = owners;
    EXPECT_EQ(controller.Connect(Connect("{}", "tun")), MakeStatusMap("disconnected", "Another program is listening on 127.0.0.1:17891"));
  }
  EXPECT_EQ(helper.log().find("/start-tun"), std::string::npos);
  listener.owners = {500};
  EXPECT_EQ(controller.Connect(Connect("{}", "tun")), MakeStatusMap("connected", "m"));
  EXPECT_EQ(controller.GetStatus(), "connected");
  EXPECT_TRUE(helper.log().ends_with("GET /status ;"));
}

}  // namespace
}  // namespace pelno
