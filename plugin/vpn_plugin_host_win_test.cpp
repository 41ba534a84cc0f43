// The connection controller (stand-in engine, fake registry, service manager and
// helper) and the plug-in host on an in-process messenger.
#include <gtest/gtest.h>

#include "engine/testing/fake_proxy_settings_platform.h"
#include "engine/win32_session_runtime.h"
#include "flutter/binary_messenger_impl.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/program_folder.h"
#include "plugin/traffic_client.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/vpn_plugin_host.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Entries;
using testing::FakeHelperTransport;
using testing::Map;
using Bytes = std::vector<uint8_t>;

const flutter::StandardMethodCodec& Codec() { return flutter::StandardMethodCodec::GetInstance(); }
Bytes Success(const EncodableValue& value) { return *Codec().EncodeSuccessEnvelope(&value); }

constexpr char kEngineConfig[] = R"({"experimental":{"clash_api":{"external_controller":"127.0.0.1:19090"}}})";

flutter::EncodableMap Connect(const char* config, const char* mode, EncodableValue port = {}) {
  return Entries(Map({{"runtimeConfig", EncodableValue(config)}, {"accessMode", EncodableValue(mode)}, {"proxyPort", port}}));
}

struct Platforms {  // a program folder with the stand-in engine, the rest fakes
  testing::ProgramFolder program{true};
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
  FakeHelperTransport helper;
  ApplicationSessionRuntime engine{program.locations, proxy};
  PluginEnvironment environment{program.locations, engine, provisioning, helper};
};

struct ControllerTest : ::testing::Test, Platforms {
  ControllerTest() { proxy.SetString(L"ProxyServer", L"user:1"); }
  std::wstring ProxyServer() { return proxy.StringValue(L"ProxyServer"); }

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
  EXPECT_EQ(controller.Connect(Connect(kEngineConfig, "TUN", EncodableValue(2080))),
            MakeStatusMap("connected", "Windows sing-box connected"));
  EXPECT_EQ(ProxyServer(), FormatProxyServer(2080));
  EXPECT_EQ(controller.GetStatus(), "connected");
  // The local engine's own figures (64-bit), not the idle helper's.
  const EncodableValue snapshot = GetTrafficSnapshot(helper, controller.LocalEngineCarriesTraffic());
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(Entries(snapshot).at(EncodableValue("uploadTotalBytes"))));

  EXPECT_EQ(StatusOf(controller.Connect(Connect("", "proxy"))), "disconnected");
  EXPECT_EQ(controller.GetStatus(), "connected");
  EXPECT_EQ(StatusOf(controller.Connect(Connect(kEngineConfig, "proxy"))), "connected");
  EXPECT_EQ(ProxyServer(), FormatProxyServer(7897));
  EXPECT_EQ(controller.Disconnect(), MakeStatusMap("disconnected", "Windows sing-box disconnected"));
  EXPECT_EQ(ProxyServer(), L"user:1");
  EXPECT_EQ(helper.log(), "POST /stop ;POST /stop ;");  // the idle helper's session, by each connect
}

TEST_F(ControllerTest, TunConnectEndsTheProxySessionAndAPlainHelperFirst) {
  ASSERT_EQ(StatusOf(controller.Connect(Connect(kEngineConfig, "proxy"))), "connected");
  ASSERT_TRUE(testing::WriteFileBytes(program.folder / L"idle.json", "{}"));
  LaunchOptions idle;
  idle.commandLine = L"\"" + program.folder / L"sing-box.exe" + L"\" run -c \"" + program.folder / L"idle.json" + L"\"";
  LaunchedProcess launched;
  ASSERT_EQ(LaunchProcess(idle, launched), 0u);
  const UniqueHandle watched(::OpenProcess(SYNCHRONIZE, FALSE, launched.processId));
  controller.launchedHelper().Store(std::move(launched));

  provisioning.openResults = {1060};
  provisioning.installerExitCode = -1;
  EXPECT_EQ(controller.Connect(Connect("{}", "tun")),
            MakeStatusMap("disconnected", "User canceled UAC or helper service install failed"));
  EXPECT_EQ(::WaitForSingleObject(watched.Get(), 0), WAIT_OBJECT_0);
  EXPECT_FALSE(controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(ProxyServer(), L"user:1");

  helper.replies = {{"/ping", {{"pong"}}}, {"", {{R"({"status":"connected","message":"m"})"}}}};
  EXPECT_EQ(controller.Connect(Connect("{}", "tun")), MakeStatusMap("connected", "m"));
  EXPECT_EQ(controller.GetStatus(), "connected");
  EXPECT_TRUE(helper.log().ends_with("GET /status ;"));
}

TEST_F(ControllerTest, AnEngineThatDiesTakesTheSystemProxyWithIt) {
  ASSERT_EQ(StatusOf(controller.Connect(Connect(R"({"stand_in":{"exit_after_ms":1500}})", "proxy"))), "connected");
  for (int i = 0; i < 100 && controller.GetStatus() == "connected"; ++i) ::Sleep(100);
  EXPECT_EQ(controller.GetStatus(), "disconnected");
  EXPECT_FALSE(controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(ProxyServer(), L"user:1");
}

struct HostTest : ::testing::Test, Platforms {
  void MakeHost(WorkerThreads::Starter starter = {}) {
    host = std::make_unique<VpnPluginHost>(&messenger, environment, std::move(starter));
  }
  int Deliver(const char* channel, const std::string& method, const EncodableValue* arguments = nullptr) {
    return fake.Deliver(channel, *Codec().EncodeMethodCall(flutter::MethodCall<EncodableValue>(
                                     method, arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr)));
  }
  Bytes Call(const std::string& method, const EncodableValue* arguments = nullptr) {
    const int id = Deliver(kMethodChannelName, method, arguments);
    const auto response = fake.WaitResponse(id);
    EXPECT_EQ(fake.ResponseCount(id), 1) << method;
    return response.value_or(Bytes{42});
  }

  flutter::testing::FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger{fake.messenger()};
  std::unique_ptr<VpnPluginHost> host;
};

TEST_F(HostTest, ArgumentsAreCheckedAndNamesMatchedExactly) {
  MakeHost();
  const EncodableValue list(EncodableList{}), text("x");
  for (const auto& [method, message] : {std::pair{"connect", "Invalid VPN connect arguments"},
                                        {"testNodeDelays", "Invalid latency test arguments"},
                                        {"cancelNodeDelayTests", "Invalid latency cancel arguments"}}) {
    for (const EncodableValue* arguments : {static_cast<const EncodableValue*>(nullptr), &list, &text})
      EXPECT_EQ(Call(method, arguments), *Codec().EncodeErrorEnvelope("bad_args", message)) << method;
  }
  for (const char* method : {"GetStatus", "getStatus ", "connect ", "Disconnect"}) EXPECT_EQ(Call(method), Bytes{});
  EXPECT_EQ(Call("getStatus", &list), Success(EncodableValue("disconnected")));  // without a helper
  EXPECT_EQ(Call("getTrafficSnapshot"), Success(FallbackTrafficSnapshot()));
}

TEST_F(HostTest, WorkerCallsAreAnsweredOnceWhenNoThreadCanBeCreated) {
  MakeHost([](std::function<void()>) -> std::thread { throw std::system_error(std::make_error_code(std::errc::io_error)); });
  const EncodableValue ignored("ignored"), empty = Map({});
  EXPECT_EQ(Call("getTrafficSnapshot", &ignored), Success(FallbackTrafficSnapshot()));
  EXPECT_EQ(Call("testNodeDelays", &empty), Success(empty));
}

TEST_F(HostTest, LatencyEventsStreamToTheListenerAndShutdownWaitsForTheTest) {
  std::vector<FakeHelperTransport::Piece> stream{{R"({"nodeTag":"A","delayMs":3})" "\n"}};
  for (int i = 0; i < 30; ++i) stream.push_back({R"({"nodeTag":"A","delayMs":4})" "\n", 200});
  helper.replies = {{"/urltest", stream}, {"/ping", {{"pong"}}}, {"", {{"{}"}}}};
  MakeHost();
  fake.WaitResponse(Deliver(kLatencyEventChannelName, "listen"));
  const EncodableValue arguments =
      Map({{"runtimeConfig", EncodableValue("{}")}, {"nodeTags", EncodableValue(EncodableList{EncodableValue("A")})}});
  const int id = Deliver(kMethodChannelName, "testNodeDelays", &arguments);
  ASSERT_TRUE(fake.WaitSent(2));
  EXPECT_EQ(fake.Sent()[0].channel, kLatencyEventChannelName);
  EXPECT_EQ(fake.Sent()[0].message, Success(Map({{"requestId", EncodableValue("")}, {"nodeTag", EncodableValue("A")},
                                                 {"delayMs", EncodableValue(3)}})));
  EXPECT_EQ(fake.ResponseCount(id), 0);
  host.reset();  // mid-stream: the worker answers with what it has before the host is gone
  EXPECT_EQ(fake.ResponseCount(id), 1);
}

}  // namespace
}  // namespace pelno
