// The connection controller with the stand-in engine, a fake registry and service
// manager, and a scripted control port where a helper must answer.
#include <gtest/gtest.h>

#include "engine/testing/fake_proxy_settings_platform.h"
#include "plugin/status_map.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/testing/scripted_helper.h"
#include "plugin/traffic_client.h"
#include "plugin/vpn_controller.h"

namespace pelno {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using testing::ScriptedHelper;

constexpr char kEngineConfig[] = R"({"experimental":{"clash_api":{"external_controller":"127.0.0.1:19090"}}})";

EncodableMap ConnectArguments(std::string config, const char* mode, EncodableValue port = {}) {
  EncodableMap arguments{{EncodableValue("runtimeConfig"), EncodableValue(std::move(config))},
                         {EncodableValue("accessMode"), EncodableValue(mode)}};
  if (!port.IsNull()) arguments[EncodableValue("proxyPort")] = port;
  return arguments;
}

ScriptedHelper::Script Answers(std::string status) {
  return [status](const ScriptedHelper::Request& request) -> std::vector<ScriptedHelper::Piece> {
    if (request.path == "/ping") return {{ScriptedHelper::Reply("pong")}};
    return {{ScriptedHelper::Reply(R"({"status":")" + status + R"(","message":"m"})")}};
  };
}

struct ControllerTest : ::testing::Test {
  ControllerTest() { proxy.SetString(L"ProxyServer", L"user:1"); }
  std::wstring ProxyServer() { return proxy.StringValue(L"ProxyServer"); }

  testing::ProgramFolder program{true};
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
  VpnController controller{{program.locations, proxy, provisioning}};
};

TEST(ProxyPortArgumentTest, OnlyPortsInRangeAreTaken) {
  const std::pair<EncodableValue, std::int32_t> cases[] = {
      {EncodableValue(0), 7897},     {EncodableValue(65536), 7897}, {EncodableValue(-1), 7897},
      {EncodableValue("8080"), 7897}, {EncodableValue(), 7897},     {EncodableValue(65535), 65535},
      {EncodableValue(std::int64_t{0x100001F90}), 8080}};
  for (const auto& [port, expected] : cases)
    EXPECT_EQ(ProxyPortArgument({{EncodableValue("proxyPort"), port}}), expected);
}

TEST_F(ControllerTest, ProxySessionAnswersLocallyAndGivesTheUserTheirSettingsBack) {
  ScriptedHelper idleHelper(Answers("disconnected"));
  EXPECT_EQ(controller.Connect(ConnectArguments(kEngineConfig, "TUN", EncodableValue(2080))),
            MakeStatusMap("connected", "Windows sing-box connected"));
  EXPECT_EQ(ProxyServer(), FormatProxyServer(2080));
  EXPECT_EQ(controller.GetStatus(), "connected");  // the idle helper is not asked
  // The local engine's own figures: 64-bit numbers, never the helper's fallback.
  const EncodableValue snapshot = GetTrafficSnapshot(controller.LocalEngineCarriesTraffic());
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(
      std::get<EncodableMap>(snapshot).at(EncodableValue("uploadTotalBytes"))));

  EXPECT_EQ(StatusOf(controller.Connect(ConnectArguments("", "proxy"))), "disconnected");
  EXPECT_EQ(controller.GetStatus(), "connected");
  EXPECT_EQ(StatusOf(controller.Connect(ConnectArguments(kEngineConfig, "proxy"))), "connected");
  EXPECT_EQ(ProxyServer(), FormatProxyServer(7897));
  EXPECT_EQ(controller.Disconnect(), MakeStatusMap("disconnected", "Windows sing-box disconnected"));
  EXPECT_EQ(ProxyServer(), L"user:1");
  for (const auto& request : idleHelper.requests()) EXPECT_EQ(request.path, "/stop");
}

TEST_F(ControllerTest, TunConnectEndsTheProxySessionAndAPlainHelperFirst) {
  ASSERT_EQ(StatusOf(controller.Connect(ConnectArguments(kEngineConfig, "proxy"))), "connected");
  ASSERT_TRUE(testing::WriteFileBytes(program.folder / L"idle.json", "{}"));
  LaunchOptions sleeper;
  sleeper.commandLine = L"\"" + program.folder / L"sing-box.exe" + L"\" run -c \"" + program.folder / L"idle.json" + L"\"";
  LaunchedProcess launched;
  ASSERT_EQ(LaunchProcess(sleeper, launched), 0u);
  const UniqueHandle watched(launched.process.Get() ? ::OpenProcess(SYNCHRONIZE, FALSE, launched.processId) : nullptr);
  controller.launchedHelper().Store(std::move(launched));

  provisioning.openResults = {1060};
  provisioning.elevationAccepted = false;
  EXPECT_EQ(controller.Connect(ConnectArguments("{}", "tun")),
            MakeStatusMap("disconnected", "User canceled UAC or helper service install failed"));
  EXPECT_EQ(::WaitForSingleObject(watched.Get(), 0), WAIT_OBJECT_0);
  EXPECT_FALSE(controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(ProxyServer(), L"user:1");

  ScriptedHelper helper(Answers("connected"));
  EXPECT_EQ(controller.Connect(ConnectArguments("{}", "tun")), MakeStatusMap("connected", "m"));
  EXPECT_EQ(controller.GetStatus(), "connected");
  EXPECT_EQ(helper.requests().back().path, "/status");
}

TEST_F(ControllerTest, AnEngineThatDiesTakesTheSystemProxyWithIt) {
  const std::string dying = R"({"stand_in":{"exit_after_ms":1500}})";
  ASSERT_EQ(StatusOf(controller.Connect(ConnectArguments(dying, "proxy", EncodableValue(3000)))), "connected");
  for (int i = 0; i < 100 && controller.GetStatus() == "connected"; ++i) ::Sleep(100);
  EXPECT_EQ(controller.GetStatus(), "disconnected");
  EXPECT_FALSE(controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(ProxyServer(), L"user:1");
}

}  // namespace
}  // namespace pelno
