// The connection controller's real engine runtime (stand-in engine, fake registry)
// and the plug-in host on an in-process messenger.
#include <gtest/gtest.h>

#include "engine/process_launcher.h"
#include "engine/testing/fake_proxy_settings_platform.h"
#include "engine/win32_session_runtime.h"
#include "flutter/binary_messenger_impl.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_helper_listener_platform.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/program_folder.h"
#include "plugin/traffic_client.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/vpn_plugin_host.h"
#include "plugin/win32_helper_launcher.h"

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

struct Platforms {  // a program folder with the stand-in engine, the rest fakes
  testing::ProgramFolder program{true};
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
  FakeHelperTransport helper;
  ApplicationSessionRuntime engine{program.locations, proxy};
  Win32HelperLauncher launcher{program.locations, EngineJob()};
  LaunchedHelperSlot launchedHelper{helper, launcher, kHelperStartRounds};
  testing::FakeHelperListenerPlatform listener;
  PluginEnvironment environment{program.locations, engine, provisioning, helper, launchedHelper, listener};
};

// The application's real runtime: the stand-in engine carries the session (the proxy
// points at it, its own figures make the snapshot) until it dies and takes the
// system proxy with it.
TEST(ControllerTest, TheRealEngineCarriesTheSessionUntilItDies) {
  Platforms platforms;
  platforms.proxy.SetString(L"ProxyServer", L"user:1");
  VpnController controller(platforms.environment);
  const char* config = R"({"experimental":{"clash_api":{"external_controller":"127.0.0.1:19090"}},"stand_in":{"exit_after_ms":3000}})";
  ASSERT_EQ(StatusOf(controller.Connect(Entries(Map({{"runtimeConfig", EncodableValue(config)}})))), "connected");
  EXPECT_EQ(platforms.proxy.StringValue(L"ProxyServer"), FormatProxyServer(7897));
  const EncodableValue snapshot = GetTrafficSnapshot(platforms.helper, controller.LocalEngineCarriesTraffic());
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(Entries(snapshot).at(EncodableValue("uploadTotalBytes"))));
  // The status turns as soon as the engine is gone; the exit watch, which gives the
  // proxy back, may come a little later on a loaded machine.
  for (int i = 0; i < 100 && controller.LocalEngineCarriesTraffic(); ++i) ::Sleep(100);
  EXPECT_FALSE(controller.GetStatus() == "connected" || controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(platforms.proxy.StringValue(L"ProxyServer"), L"user:1");
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
