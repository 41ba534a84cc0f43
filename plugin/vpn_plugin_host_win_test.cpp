// The plug-in host on an in-process messenger: argument checks, method names, worker
// calls answered once, latency events, and a shutdown that waits for its workers.
#include <gtest/gtest.h>

#include "engine/testing/fake_proxy_settings_platform.h"
#include "flutter/binary_messenger_impl.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/testing/scripted_helper.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/vpn_plugin_host.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using testing::ScriptedHelper;
using Bytes = std::vector<uint8_t>;

const flutter::StandardMethodCodec& Codec() { return flutter::StandardMethodCodec::GetInstance(); }
Bytes Success(const EncodableValue& value) { return *Codec().EncodeSuccessEnvelope(&value); }

struct HostTest : ::testing::Test {
  void MakeHost(WorkerThreads::Starter starter = {}) {
    host = std::make_unique<VpnPluginHost>(&messenger, PluginEnvironment{program.locations, proxy, provisioning},
                                           std::move(starter));
  }
  int Deliver(const char* channel, const std::string& method, std::optional<EncodableValue> arguments) {
    auto encoded = Codec().EncodeMethodCall(flutter::MethodCall<EncodableValue>(
        method, arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr));
    return fake.Deliver(channel, *encoded);
  }
  Bytes Call(const std::string& method, std::optional<EncodableValue> arguments = std::nullopt) {
    const int id = Deliver(kMethodChannelName, method, std::move(arguments));
    const auto response = fake.WaitResponse(id, std::chrono::seconds(20));
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
  for (const auto& [method, message] : {std::pair{"connect", "Invalid VPN connect arguments"},
                                        {"testNodeDelays", "Invalid latency test arguments"},
                                        {"cancelNodeDelayTests", "Invalid latency cancel arguments"}}) {
    for (const auto& arguments : {std::optional<EncodableValue>(), std::optional(EncodableValue(EncodableList{})),
                                  std::optional(EncodableValue("x"))}) {
      EXPECT_EQ(Call(method, arguments), *Codec().EncodeErrorEnvelope("bad_args", message)) << method;
    }
  }
  for (const char* method : {"GetStatus", "getStatus ", "connect ", "Disconnect"}) EXPECT_EQ(Call(method), Bytes{});
  EXPECT_EQ(Call("getStatus", EncodableValue(EncodableList{})), Success(EncodableValue("disconnected")));
}

TEST_F(HostTest, WorkerCallsAreAnsweredOnceWhenNoThreadCanBeCreated) {
  MakeHost([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  EXPECT_EQ(Call("getTrafficSnapshot", EncodableValue("ignored")), Success(FallbackTrafficSnapshot()));
  EXPECT_EQ(Call("testNodeDelays", EncodableValue(EncodableMap{})), Success(EncodableValue(EncodableMap{})));
}

TEST_F(HostTest, LatencyEventsStreamToTheListenerAndShutdownWaitsForTheTest) {
  ScriptedHelper helper([](const ScriptedHelper::Request& request) -> std::vector<ScriptedHelper::Piece> {
    if (request.path == "/ping") return {{ScriptedHelper::Reply("pong")}};
    if (request.path != "/urltest") return {{ScriptedHelper::Reply("{}")}};
    std::vector<ScriptedHelper::Piece> pieces{{ScriptedHelper::Reply(R"({"nodeTag":"A","delayMs":3})" "\n")}};
    for (int i = 0; i < 30; ++i) pieces.push_back({R"({"nodeTag":"B","delayMs":4})" "\n", 200});
    return pieces;
  });
  MakeHost();
  fake.WaitResponse(Deliver(kLatencyEventChannelName, "listen", std::nullopt));
  const EncodableMap arguments{{EncodableValue("runtimeConfig"), EncodableValue("{}")},
                               {EncodableValue("nodeTags"), EncodableValue(EncodableList{EncodableValue("A")})}};
  const int id = Deliver(kMethodChannelName, "testNodeDelays", EncodableValue(arguments));
  ASSERT_TRUE(fake.WaitSent(2));
  const Bytes firstEvent = Success(EncodableValue(EncodableMap{{EncodableValue("requestId"), EncodableValue("")},
                                                                {EncodableValue("nodeTag"), EncodableValue("A")},
                                                                {EncodableValue("delayMs"), EncodableValue(3)}}));
  EXPECT_EQ(fake.Sent()[0].channel, kLatencyEventChannelName);
  EXPECT_EQ(fake.Sent()[0].message, firstEvent);
  EXPECT_EQ(fake.ResponseCount(id), 0);
  host.reset();  // mid-stream: the worker answers with what it has before the host is gone
  EXPECT_EQ(fake.ResponseCount(id), 1);
}

}  // namespace
}  // namespace pelno
