// The plug-in host on an in-process messenger: argument checks, method names, worker
// calls answered once, latency events, and a shutdown that waits for its workers.
#include <gtest/gtest.h>

#include "engine/testing/fake_proxy_settings_platform.h"
#include "flutter/binary_messenger_impl.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/testing/scripted_helper.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/vpn_plugin_host.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Map;
using testing::ScriptedHelper;
using Bytes = std::vector<uint8_t>;

const flutter::StandardMethodCodec& Codec() { return flutter::StandardMethodCodec::GetInstance(); }
Bytes Success(const EncodableValue& value) { return *Codec().EncodeSuccessEnvelope(&value); }

struct HostTest : ::testing::Test {
  void MakeHost(WorkerThreads::Starter starter = {}) {
    host = std::make_unique<VpnPluginHost>(&messenger, PluginEnvironment{program.locations, proxy, provisioning},
                                           std::move(starter));
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
  testing::ProgramFolder program;
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
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
  EXPECT_EQ(Call("getStatus", &list), Success(EncodableValue("disconnected")));
}

TEST_F(HostTest, WorkerCallsAreAnsweredOnceWhenNoThreadCanBeCreated) {
  MakeHost([](std::function<void()>) -> std::thread { throw std::system_error(std::make_error_code(std::errc::io_error)); });
  const EncodableValue ignored("ignored"), empty = Map({});
  EXPECT_EQ(Call("getTrafficSnapshot", &ignored), Success(FallbackTrafficSnapshot()));
  EXPECT_EQ(Call("testNodeDelays", &empty), Success(empty));
}

TEST_F(HostTest, LatencyEventsStreamToTheListenerAndShutdownWaitsForTheTest) {
  ScriptedHelper helper([](const ScriptedHelper::Request& request) -> std::vector<ScriptedHelper::Piece> {
    if (request.path != "/urltest") return {{ScriptedHelper::Reply(request.path == "/ping" ? "pong" : "{}")}};
    std::vector<ScriptedHelper::Piece> pieces{{ScriptedHelper::Reply(R"({"nodeTag":"A","delayMs":3})" "\n")}};
    for (int i = 0; i < 30; ++i) pieces.push_back({R"({"nodeTag":"A","delayMs":4})" "\n", 200});
    return pieces;
  });
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
