// The plug-in host on an in-process messenger, over a fake helper, engine runtime and
// launched helper: what is answered at once and what on a worker, the order of the
// connection calls, calls without a thread, and closing.
#include "plugin/vpn_plugin_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "flutter/binary_messenger_impl.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_plugin_platforms.h"
#include "plugin/traffic_snapshot_map.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::FakeHelperTransport;
using testing::Map;
using Bytes = std::vector<uint8_t>;

const flutter::StandardMethodCodec& Codec() { return flutter::StandardMethodCodec::GetInstance(); }
Bytes Success(const EncodableValue& value) { return *Codec().EncodeSuccessEnvelope(&value); }

struct HostTest : ::testing::Test, testing::FakePluginPlatforms {
  HostTest() {
    locations.AddEntry(L"C:\\Apps\\Client\\sing-box.exe");
    answering = true;
    snapshot = "{}";
  }

  ~HostTest() override {
    host.reset();
    std::unique_lock<std::mutex> lock(threadsLock);
    threadsGone.wait(lock, [this] { return threadsRunning == 0; });
  }
  // Worker threads that count themselves out once their job, and all it held, is
  // gone: the fakes stay until the calls abandoned at close let go of them.
  std::thread CountedThread(std::function<void()> job) {
    const auto countOut = [this] {
      std::lock_guard<std::mutex> guard(threadsLock);
      if (--threadsRunning == 0) threadsGone.notify_all();
    };
    {
      std::lock_guard<std::mutex> guard(threadsLock);
      ++threadsRunning;
    }
    try {
      return std::thread([job = std::move(job), countOut]() mutable { job(), job = nullptr, countOut(); });
    } catch (const std::system_error&) {
      countOut();
      throw;
    }
  }
  void MakeHost(WorkerThreads::Starter starter = {}) {
    if (!starter) starter = [this](std::function<void()> job) { return CountedThread(std::move(job)); };
    host = std::make_unique<VpnPluginHost>(&messenger, environment, std::move(starter));
  }
  int Deliver(const char* channel, const std::string& method, const EncodableValue* arguments = nullptr) {
    return fake.Deliver(channel, *Codec().EncodeMethodCall(flutter::MethodCall<EncodableValue>(
                                     method, arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr)));
  }
  int Send(const std::string& method, const EncodableValue* arguments = nullptr) {
    return Deliver(kMethodChannelName, method, arguments);
  }
  Bytes Response(int id) {
    const auto response = fake.WaitResponse(id);
    EXPECT_EQ(fake.ResponseCount(id), 1) << id;
    return response.value_or(Bytes{42});
  }
  Bytes Call(const std::string& method, const EncodableValue* arguments = nullptr) {
    return Response(Send(method, arguments));
  }

  std::mutex threadsLock;
  std::condition_variable threadsGone;
  int threadsRunning = 0;
  flutter::testing::FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger{fake.messenger()};
  std::unique_ptr<VpnPluginHost> host;
  const EncodableValue proxyConnect = Map({{"runtimeConfig", EncodableValue("{}")}});
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

// A helper that takes every request and never answers: closing gives the user their
// proxy back and stops the engine before it asks the helper anything, and ends within
// the bound of its own "/stop" while a status query and a latency test still wait on
// the helper; the disconnect queued behind the query is answered as a call arriving
// after the close would be. The calls in flight answer once the helper goes.
TEST_F(HostTest, ClosingEndsTheSessionFirstAndWithinItsBoundWhateverTheHelperDoes) {
  helper.replies = {{"/stop", {{"{}"}}}};
  MakeHost();
  ASSERT_EQ(Call("connect", &proxyConnect), Success(MakeStatusMap("connected", "Windows sing-box connected")));
  helper.replies = {{"", {{"", FakeHelperTransport::kSilent}}}};
  engine.engineRunning = false;  // its exit not yet reported: the status is asked of the helper
  const EncodableValue test =
      Map({{"runtimeConfig", EncodableValue("{}")}, {"nodeTags", EncodableValue(EncodableList{EncodableValue("A")})}});
  const int status = Send("getStatus"), disconnect = Send("disconnect"), latency = Send("testNodeDelays", &test);
  while (helper.log().find("/status") == std::string::npos || helper.log().find("/urltest") == std::string::npos)
    std::this_thread::yield();
  engine.Forget();
  testing::Calls beforeHelperAsked{"none"};
  helper.onSend = [&](std::string_view) { beforeHelperAsked = engine.calls; };
  const auto start = std::chrono::steady_clock::now();
  host.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, kStopAtCloseBound + std::chrono::seconds(1));
  EXPECT_EQ(beforeHelperAsked, (testing::Calls{"restore", "stop"}));
  EXPECT_TRUE(helper.log().ends_with("POST /stop ;") && launched == "close ");
  EXPECT_EQ(Response(disconnect), Bytes{});
  EXPECT_EQ(fake.ResponseCount(status) + fake.ResponseCount(latency), 0);
  helper.HangUp();
  EXPECT_EQ(Response(status), Success(EncodableValue("disconnected")));
  EXPECT_EQ(Response(latency), Success(Map({})));
  EXPECT_EQ(engine.calls, (testing::Calls{"restore", "stop"}));
}

// Without a thread every call is still answered once: the connection calls are
// served on the spot, the others as if no helper could be reached.
TEST_F(HostTest, CallsAreAnsweredOnceWhenNoThreadCanBeCreated) {
  helper.replies = {{"", {{"{}"}}}};
  MakeHost([](std::function<void()>) -> std::thread { throw std::system_error(std::make_error_code(std::errc::io_error)); });
  const EncodableValue ignored("ignored"), empty = Map({}), cancel = Map({{"requestId", EncodableValue("r")}});
  const int connect = Send("connect", &proxyConnect);
  EXPECT_EQ(fake.ResponseCount(connect), 1);
  EXPECT_EQ(Response(connect), Success(MakeStatusMap("connected", "Windows sing-box connected")));
  EXPECT_EQ(Call("getStatus"), Success(EncodableValue("connected")));
  EXPECT_EQ(Call("getTrafficSnapshot", &ignored), Success(FallbackTrafficSnapshot()));
  EXPECT_EQ(Call("testNodeDelays", &empty), Success(empty));
  EXPECT_EQ(Call("cancelNodeDelayTests", &cancel), Success(Map({{"status", EncodableValue("ignored")}})));
  EXPECT_EQ(helper.log(), "POST /stop ;");
}

TEST_F(HostTest, LatencyEventsStreamToTheListenerAndClosingEndsTheTest) {
  std::vector<FakeHelperTransport::Piece> stream{{R"({"nodeTag":"A","delayMs":3})" "\n"}};
  for (int i = 0; i < 30; ++i) stream.push_back({R"({"nodeTag":"A","delayMs":4})" "\n", 200});
  helper.replies = {{"/urltest", stream}, {"", {{"{}"}}}};
  MakeHost();
  fake.WaitResponse(Deliver(kLatencyEventChannelName, "listen"));
  const EncodableValue arguments =
      Map({{"runtimeConfig", EncodableValue("{}")}, {"nodeTags", EncodableValue(EncodableList{EncodableValue("A")})}});
  const int id = Send("testNodeDelays", &arguments);
  ASSERT_TRUE(fake.WaitSent(2));
  EXPECT_EQ(fake.Sent()[0].channel, kLatencyEventChannelName);
  EXPECT_EQ(fake.Sent()[0].message, Success(Map({{"requestId", EncodableValue("")}, {"nodeTag", EncodableValue("A")},
                                                 {"delayMs", EncodableValue(3)}})));
  EXPECT_EQ(fake.ResponseCount(id), 0);
  host.reset();  // mid-stream: the test reads no further and answers with what it has, 6 s early
  EXPECT_NE(Response(id), Bytes{42});
}

}  // namespace
}  // namespace pelno
