// Sends raw messages on one channel from any thread. Built over the engine's own
// messenger, the sender holds a reference to the engine library's messenger, so
// an event sink may outlive the engine: its messages are then dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "flutter/binary_messenger.h"

namespace flutter::internal {

using ChannelSender = std::function<void(const uint8_t* message, size_t message_size)>;

ChannelSender MakeChannelSender(const BinaryMessenger* messenger, const std::string& channel);

}  // namespace flutter::internal
