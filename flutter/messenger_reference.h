// A counted reference to the engine library's messenger, shared by everything
// that may send after the platform thread has moved on: replies, event sinks,
// pending sends. Every send takes the messenger's lock, checks that the engine
// is still there, sends and unlocks; once the engine is gone it is dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "flutter/binary_messenger.h"
#include "flutter/flutter_messenger.h"

namespace flutter::internal {

class MessengerReference {
 public:
  explicit MessengerReference(FlutterDesktopMessengerRef messenger);
  ~MessengerReference();
  MessengerReference(const MessengerReference&) = delete;
  MessengerReference& operator=(const MessengerReference&) = delete;

  FlutterDesktopMessengerRef get() const { return messenger_; }

  // False when the engine is gone or refused the message.
  bool Send(const char* channel, const uint8_t* message, size_t message_size) const;

  // `reply` is called exactly once: with the answer, or with no bytes when the
  // message could not be sent (then this returns false) or the engine shut down.
  bool SendWithReply(const char* channel,
                     const uint8_t* message,
                     size_t message_size,
                     BinaryReply reply) const;

  void SendResponse(const FlutterDesktopMessageResponseHandle* handle,
                    const uint8_t* data,
                    size_t data_length) const;

 private:
  FlutterDesktopMessengerRef messenger_;
};

}  // namespace flutter::internal
