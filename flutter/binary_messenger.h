// BinaryMessenger: raw messages between native code and the Flutter engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// The answer to a message; no bytes means "no handler / not implemented".
typedef std::function<void(const uint8_t* reply, size_t reply_size)> BinaryReply;

// Handles a message on one channel; `reply` must be called exactly once, from
// any thread.
typedef std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>
    BinaryMessageHandler;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends a message; `reply` (if any) gets the receiver's answer. Any thread.
  virtual void Send(const std::string& channel,
                    const uint8_t* message,
                    size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Replaces the channel's handler; a null handler removes it.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) const = 0;
};

}  // namespace flutter
