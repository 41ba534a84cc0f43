// The connection controller over a fake engine runtime, launched helper, transport
// and provisioning.
#include "plugin/vpn_controller.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_plugin_platforms.h"

namespace pelno {
namespace {

using testing::EncodableValue;
using testing::Entries;
using testing::Map;

struct ControllerTest : ::testing::Test, testing::FakePluginPlatforms {
  ControllerTest() {
    for (const wchar_t* file : {L"sing-box.exe", L"PelnoVpnHelperService.exe"}) locations.AddEntry(L"C:\\Apps\\Client\\" + std::wstring(file));
    processIds = {812};  // one that End missed
    beforeClose = [this] { return Trail(); };
  }
  std::string Trail() {  // the engine's calls since the last
    std::string trail;
    for (const std::string& call : std::exchange(engine.calls, {})) trail += call + " ";
    return trail;
  }
  static flutter::EncodableMap Connect(const char* config, const char* mode = "proxy", EncodableValue port = {}) {
    return Entries(Map({{"runtimeConfig", EncodableValue(config)}, {"accessMode", EncodableValue(mode)}, {"proxyPort", port}}));
  }

  VpnController controller{environment};
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
