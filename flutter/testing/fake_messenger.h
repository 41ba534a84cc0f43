// An in-process stand-in for the engine library's messenger functions
// (flutter/flutter_messenger.h): link `pelno_flutter_fake_messenger` instead of the
// engine library. The test plays the engine; Deliver's thread is the platform thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flutter/flutter_messenger.h"

namespace flutter::testing {

class FakeMessenger {
 public:
  struct SentMessage {
    std::string channel;
    std::vector<uint8_t> message;
    bool wants_reply = false;
  };

  FakeMessenger();
  ~FakeMessenger();
  FakeMessenger(const FakeMessenger&) = delete;
  FakeMessenger& operator=(const FakeMessenger&) = delete;

  FlutterDesktopMessengerRef messenger() const { return messenger_; }

  // Delivers a message to the channel's callback and returns its id. Without a
  // callback the message is answered with no bytes at once; while unavailable
  // it is not delivered at all.
  int Deliver(const std::string& channel, const std::vector<uint8_t>& message);

  // The first answer to message `id`, waiting up to `timeout` for it.
  std::optional<std::vector<uint8_t>> WaitResponse(
      int id, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  // How often message `id` was answered (the contract is exactly once).
  int ResponseCount(int id) const;

  // Messages native code sent, in order.
  std::vector<SentMessage> Sent() const;
  // Waits until at least `count` messages were sent; false on time-out.
  bool WaitSent(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // Answers sent message `index`; false when it asked for no reply or was answered.
  bool ReplyToSent(size_t index, const std::vector<uint8_t>& reply);

  // False (or the destructor): the engine is gone. Sends are dropped, pending replies
  // answered with no bytes; references taken with FlutterDesktopMessengerAddRef stay valid.
  void SetAvailable(bool available);

  // Sends and responses from a thread other than the platform thread made
  // without holding the messenger's lock (should stay 0).
  int UnlockedSendsFromOtherThreads() const;

 private:
  FlutterDesktopMessengerRef messenger_;
};

}  // namespace flutter::testing
