// MessageCodec<T>: turns one value into bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace flutter {

template <typename T>
class MessageCodec {
 public:
  MessageCodec() = default;
  virtual ~MessageCodec() = default;
  MessageCodec(const MessageCodec&) = delete;
  MessageCodec& operator=(const MessageCodec&) = delete;

  // Null when the bytes are not one well-formed value.
  std::unique_ptr<T> DecodeMessage(const uint8_t* binary_message, const size_t message_size) const {
    return DecodeMessageInternal(binary_message, message_size);
  }
  std::unique_ptr<T> DecodeMessage(const std::vector<uint8_t>& binary_message) const {
    const size_t size = binary_message.size();
    const uint8_t* data = size > 0 ? &binary_message[0] : nullptr;
    return DecodeMessageInternal(data, size);
  }

  std::unique_ptr<std::vector<uint8_t>> EncodeMessage(const T& message) const {
    return EncodeMessageInternal(message);
  }

 protected:
  virtual std::unique_ptr<T> DecodeMessageInternal(const uint8_t* binary_message,
                                                   const size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMessageInternal(const T& message) const = 0;
};

}  // namespace flutter
