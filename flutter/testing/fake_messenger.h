// FakeMessenger: an in-process stand-in for the engine library's messenger
// functions (flutter/flutter_messenger.h), for tests. Link the target
// `pelno_flutter_fake_messenger` instead of the engine library.
//
// The test plays the engine: Deliver() calls the channel's callback on the
// calling thread (the platform thread) and WaitResponse() collects the answer,
// which may come from any thread. Messages that native code sends are
// captured; ReplyToSent() answers one that asked for a reply. SetAvailable(false)
// or destroying the FakeMessenger makes it behave like a messenger whose engine
// is gone: references taken with FlutterDesktopMessengerAddRef stay valid, sends
// are dropped, and pending replies are answered with no bytes.
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

  // False: the engine is gone.
  void SetAvailable(bool available);

  // Sends and responses from a thread other than the platform thread made
  // without holding the messenger's lock (should stay 0).
  int UnlockedSendsFromOtherThreads() const;

 private:
  FlutterDesktopMessengerRef messenger_;
};

}  // namespace flutter::testing
