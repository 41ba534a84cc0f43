#include "flutter/binary_messenger_impl.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "flutter/event_channel.h"
#include "flutter/event_stream_handler_functions.h"
#include "flutter/method_channel.h"
#include "flutter/method_result_functions.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"

namespace flutter {
namespace {

using Bytes = std::vector<uint8_t>;
using EV = EncodableValue;
using Result = std::unique_ptr<MethodResult<EV>>;
const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();

Bytes Call(const std::string& name) { return *codec.EncodeMethodCall(MethodCall<EV>(name, nullptr)); }
Bytes Success(const EV& value) { return *codec.EncodeSuccessEnvelope(&value); }

// A method channel whose handler parks every result in `pending`.
struct ChannelFixture : ::testing::Test {
  ChannelFixture() {
    channel.SetMethodCallHandler([this](const MethodCall<EV>&, Result result) { pending = std::move(result); });
  }
  testing::FakeMessenger fake;
  std::unique_ptr<BinaryMessengerImpl> messenger = std::make_unique<BinaryMessengerImpl>(fake.messenger());
  MethodChannel<EV> channel{messenger.get(), "m", &codec};
  Result pending;
};

TEST_F(ChannelFixture, AnswersOnceFromAnotherThreadUnderTheLock) {
  const int id = fake.Deliver("m", Call("getStatus"));
  ASSERT_TRUE(pending);
  std::thread worker([result = std::move(pending)] {
    result->Success(EV("connected"));
    result->Error("late");
  });
  worker.join();
  EXPECT_EQ(fake.WaitResponse(id), Success(EV("connected")));
  EXPECT_EQ(fake.ResponseCount(id), 1);
  EXPECT_EQ(fake.UnlockedSendsFromOtherThreads(), 0);
}

TEST_F(ChannelFixture, DroppedResultsAndUndecodableCallsAnswerNotImplemented) {
  const int dropped = fake.Deliver("m", Call("x"));
  pending.reset();
  const int garbage = fake.Deliver("m", Bytes{0x0f});
  EXPECT_EQ(fake.WaitResponse(dropped), Bytes());
  EXPECT_EQ(fake.WaitResponse(garbage), Bytes());
  EXPECT_EQ(fake.ResponseCount(dropped) + fake.ResponseCount(garbage), 2);
}

TEST_F(ChannelFixture, ReplyAfterTheEngineIsGoneIsDropped) {
  const int id = fake.Deliver("m", Call("x"));
  fake.SetAvailable(false);
  messenger.reset();
  pending->Success();
  EXPECT_EQ(fake.ResponseCount(id), 0);
}

TEST_F(ChannelFixture, InvokeMethodDeliversTheReplyOrNotImplementedAtShutdown) {
  std::vector<std::string> outcomes;
  auto record = [&] {
    return std::make_unique<MethodResultFunctions<EV>>(
        [&](const EV* value) { outcomes.push_back(std::get<std::string>(*value)); }, nullptr,
        [&] { outcomes.push_back("not implemented"); });
  };
  channel.InvokeMethod("a", std::make_unique<EV>(1), record());
  channel.InvokeMethod("b", nullptr, record());
  ASSERT_TRUE(fake.WaitSent(2));
  EXPECT_EQ(fake.Sent()[0].message, *codec.EncodeMethodCall(MethodCall<EV>("a", std::make_unique<EV>(1))));
  EXPECT_TRUE(fake.ReplyToSent(0, Success(EV("yes"))));
  fake.SetAvailable(false);
  EXPECT_EQ(outcomes, (std::vector<std::string>{"yes", "not implemented"}));
}

TEST(EventChannelTest, StreamsFromAnotherThreadUntilCancelledOrTheEngineIsGone) {
  testing::FakeMessenger fake;
  auto messenger = std::make_unique<BinaryMessengerImpl>(fake.messenger());
  EventChannel<EV> channel(messenger.get(), "e", &codec);
  std::unique_ptr<EventSink<EV>> sink;
  int cancels = 0;
  channel.SetStreamHandler(std::make_unique<StreamHandlerFunctions<EV>>(
      [&](const EV*, std::unique_ptr<EventSink<EV>>&& events) {
        sink = std::move(events);
        return std::unique_ptr<StreamHandlerError<EV>>();
      },
      [&](const EV*) {
        ++cancels;
        return std::make_unique<StreamHandlerError<EV>>("c", "", nullptr);
      }));
  EXPECT_EQ(fake.WaitResponse(fake.Deliver("e", Call("listen"))), Success(EV()));
  std::thread([&] { sink->Success(EV(3)); sink->EndOfStream(); }).join();
  EXPECT_EQ(fake.WaitResponse(fake.Deliver("e", Call("cancel"))), *codec.EncodeErrorEnvelope("c"));
  EXPECT_EQ(fake.WaitResponse(fake.Deliver("e", Call("cancel"))),
            *codec.EncodeErrorEnvelope("error", "No active stream to cancel"));
  EXPECT_EQ(cancels, 1);
  ASSERT_EQ(fake.Sent().size(), 2u);
  EXPECT_EQ(fake.Sent()[0].message, Success(EV(3)));
  EXPECT_EQ(fake.Sent()[1].message, Bytes());
  EXPECT_EQ(fake.UnlockedSendsFromOtherThreads(), 0);
  // A sink that outlives the engine and its messenger object drops its events.
  fake.SetAvailable(false);
  messenger.reset();
  sink->Success(EV(4));
  EXPECT_EQ(fake.Sent().size(), 2u);
}

}  // namespace
}  // namespace flutter
