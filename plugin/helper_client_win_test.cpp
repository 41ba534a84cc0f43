// The helper client, the latency client and provisioning: against the real helper
// program, Wine's service manager, a scripted control port and a fake service manager.
#include <windows.h>
#include <shlobj.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include "engine/testing/fake_proxy_settings_platform.h"
#include "plugin/helper_client.h"
#include "plugin/helper_provisioning.h"
#include "plugin/latency_stream.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/testing/scripted_helper.h"
#include "plugin/traffic_client.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/win32_provisioning_platform.h"
#include "plugin/vpn_controller.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using testing::EncodableValue;
using testing::Entries;
using testing::Map;
using testing::ScriptedHelper;

TEST(HelperClientTest, NothingListeningAnswersNoAtOnce) {
  const ULONGLONG start = ::GetTickCount64();
  std::string status;
  EncodableValue map;
  EXPECT_FALSE(QueryHelperStatus(status) || StopHelperSession(map) || HelperAnswersPing());
  EXPECT_EQ(GetTrafficSnapshot(false), FallbackTrafficSnapshot());
  EXPECT_LT(::GetTickCount64() - start, 3000u);
}

// One real helper for every fact that needs it: started hidden by a latency test
// (the stand-in engine measures), asked, then ended by the controller's clean-up.
TEST(HelperClientTest, RealHelperStartedForLatencyAnswersAndIsEndedByTheCleanUp) {
  testing::ProgramFolder program(true);
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
  VpnController controller({program.locations, proxy, provisioning, 300});
  const EncodableValue test = Map({{"requestId", EncodableValue("r1")}, {"nodeTags", EncodableValue(EncodableList{EncodableValue("B")})},
                                   {"runtimeConfig", EncodableValue(R"({"stand_in":{"fetch":{"B":{"fail":true}}}})")}});
  int events = 0;
  EXPECT_EQ(RunLatencyTest(Entries(test), [&](const std::string&, std::int32_t) { ++events; }, controller.LatencyClientFor(nullptr)),
            Map({{"B", EncodableValue(0)}}));
  EXPECT_EQ(events, 1);
  ASSERT_TRUE(controller.launchedHelper().Holds());
  EXPECT_EQ(CancelLatencyTest(Entries(test), controller.LatencyClientFor(nullptr)), Map({{"status", EncodableValue("canceled")}}));
  std::string status;
  EXPECT_TRUE(QueryHelperStatus(status));
  EXPECT_EQ(status, "disconnected");
  EncodableValue map;
  EXPECT_TRUE(StopHelperSession(map));
  EXPECT_EQ(map, MakeStatusMap("disconnected", "Windows helper disconnected"));

  // A helper already answering takes the TUN start with no service manager access;
  // a body beyond 4096 bytes arrives whole.
  const std::string config = "{\"pad\":\"" + std::string(10000, 'x') + "\"}";
  std::string error;
  ASSERT_TRUE(StartHelperTun(config, map, error, {provisioning, program.locations}));
  EXPECT_EQ(provisioning.calls, "");
  EXPECT_EQ(StatusOf(map), "connected");
  PWSTR roaming = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming), S_OK);
  EXPECT_EQ(testing::ReadFileBytes(std::wstring(roaming) + L"\\PelnoVPN\\sing-box.json"), config);
  ::CoTaskMemFree(roaming);

  controller.CleanUp();
  EXPECT_FALSE(controller.launchedHelper().Holds() || HelperAnswersPing());
}

// A reply beyond 4096 bytes whose lines come slowly: each result is handed on as its
// line arrives, a line split across pieces once, and the last without its line feed.
TEST(LatencyClientTest, ResultsGoOutAsTheirLinesArriveAndTheReplyKeepsTheLast) {
  ScriptedHelper helper([](const ScriptedHelper::Request& request) -> std::vector<ScriptedHelper::Piece> {
    if (request.path == "/ping") return {{ScriptedHelper::Reply("pong")}};
    return {{ScriptedHelper::Reply("{\"pad\":\"" + std::string(6000, 'a') + "\"}\n{\"nodeTag\":\"A\",\"de")},
            {"layMs\":5}\n\n{\"nodeTag\":\"C\"}\r\n{\"nodeTag\":\"A\",\"delayMs\":7}\n", 50},
            {R"({"nodeTag":"B\u0009","delayMs":1})", 600}};
  });
  LaunchedHelperSlot slot;
  Win32LocationPlatform locations;
  const EncodableList tags{EncodableValue(1), EncodableValue(""), EncodableValue("A"), EncodableValue("B\t")};
  const EncodableMap arguments = Entries(Map({{"requestId", EncodableValue("r")}, {"runtimeConfig", EncodableValue("{}")},
                                              {"testUrl", EncodableValue("")}, {"nodeTags", EncodableValue(tags)}}));
  std::vector<std::pair<std::string, std::int32_t>> events;
  ULONGLONG secondEventAt = 0;
  const EncodableValue reply = RunLatencyTest(arguments, [&](const std::string& tag, std::int32_t delay) {
    events.emplace_back(tag, delay);
    if (events.size() == 3) secondEventAt = ::GetTickCount64();
  }, LatencyClient{slot, locations});
  EXPECT_GE(::GetTickCount64() - secondEventAt, 400u);  // long before the stream ended
  const std::vector<std::pair<std::string, std::int32_t>> expected = {{"A", 5}, {"C", 0}, {"A", 7}, {"B\t", 1}};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(reply, Map({{"A", EncodableValue(7)}, {"B\t", EncodableValue(1)}, {"C", EncodableValue(0)}}));
  ASSERT_EQ(helper.requests().size(), 2u);
  EXPECT_EQ(helper.requests()[1].body, BuildUrlTestBody("r", kDefaultTestUrl, {"A", "B\t"}, "{}"));
}

TEST(LatencyClientTest, NothingToTestOrCancelContactsNoHelper) {
  ScriptedHelper helper(ScriptedHelper::Answers({{"", "pong"}}));
  testing::ProgramFolder program;
  LaunchedHelperSlot slot;
  const LatencyClient client{slot, program.locations};
  const EncodableValue tags(EncodableList{EncodableValue("A")});
  for (const EncodableValue& arguments : {Map({{"nodeTags", tags}}), Map({{"nodeTags", tags}, {"runtimeConfig", EncodableValue(5)}}),
                                          Map({{"nodeTags", EncodableValue("A")}, {"runtimeConfig", EncodableValue("{}")}})})
    EXPECT_EQ(RunLatencyTest(Entries(arguments), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(Entries(Map({{"requestId", EncodableValue(7)}})), client), Map({{"status", EncodableValue("ignored")}}));
  EXPECT_TRUE(helper.requests().empty());
  EXPECT_FALSE(slot.Holds());
}

TEST(ProvisioningTest, RefusalsLeadToTheInstallerOrToTheirMessage) {
  const struct {
    std::vector<std::uint32_t> openResults, startResults;
    int installerExitCode;
    bool answersOnceRunning;
    std::string error, calls;  // error empty: ready
  } cases[] = {
      {{0, 5}, {}, 0, true, "", "manager open config manager open runas manager open start "},
      {{}, {5}, 0, true, "", "manager open config manager open start runas manager open start "},
      {{}, {1056}, 0, true, "", "manager open config manager open start "},
      {{1060}, {}, -1, true, "User canceled UAC or helper service install failed", "manager open runas "},
      {{1060}, {}, 1, true, "PelnoVpnHelperService install failed", "manager open runas "},
      {{}, {1058}, 0, true, "Failed to start PelnoVpnHelperService: error 1058", "manager open config manager open start "},
      {{}, {}, 0, false, "Windows helper service started but did not become ready", "manager open config manager open start "},
  };
  testing::ProgramFolder program;
  for (const auto& c : cases) {
    testing::FakeProvisioningPlatform fake;
    fake.openResults = c.openResults;
    fake.startResults = c.startResults;
    fake.installerExitCode = c.installerExitCode;
    fake.answersOnceRunning = c.answersOnceRunning;
    // Installed from this very program file, unquoted, in other letter case.
    fake.binaryPath = PathCompareKey(program.helper()) + L" --x";
    std::string error;
    EXPECT_EQ(EnsureHelperReady(error, {fake, program.locations}), c.error.empty()) << c.calls;
    if (!c.error.empty()) EXPECT_EQ(error, c.error);
    EXPECT_EQ(fake.calls, c.calls);
  }
}

void StopService(bool remove) {
  const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  const SC_HANDLE service = ::OpenServiceW(manager, kHelperServiceName, SERVICE_ALL_ACCESS);
  SERVICE_STATUS status = {};
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 100 && HelperAnswersPing(); ++i) ::Sleep(100);
  EXPECT_TRUE(!remove || ::DeleteService(service));
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
}

// Wine's service manager: a missing service is installed through "runas" and
// started; installed from another folder (and stopped), it is installed anew.
TEST(ProvisioningTest, RealServiceManagerInstallsStartsAndReinstalls) {
  testing::ProgramFolder first, second;
  Win32ProvisioningPlatform real;
  std::string error;
  bool current = false;
  std::wstring installed;
  ASSERT_FALSE(QueryInstalledHelper(current, installed, error, {real, first.locations}));
  ASSERT_TRUE(EnsureHelperReady(error, {real, first.locations})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, first.locations}));
  EXPECT_TRUE(current);
  StopService(false);
  EXPECT_TRUE(EnsureHelperReady(error, {real, second.locations})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, second.locations}));
  EXPECT_TRUE(current);
  StopService(true);
}

}  // namespace
}  // namespace pelno
