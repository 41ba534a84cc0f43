#include "flutter/standard_message_codec.h"

#include "flutter/standard_codec_wire.h"

namespace flutter {

const StandardMessageCodec& StandardMessageCodec::GetInstance() {
  static const StandardMessageCodec instance;
  return instance;
}

StandardMessageCodec::StandardMessageCodec() = default;
StandardMessageCodec::~StandardMessageCodec() = default;

std::unique_ptr<EncodableValue> StandardMessageCodec::DecodeMessageInternal(
    const uint8_t* binary_message, const size_t message_size) const {
  if (binary_message == nullptr && message_size != 0) {
    return nullptr;
  }
  internal::StandardCodecReader reader(binary_message, message_size);
  auto value = std::make_unique<EncodableValue>();
  // Exactly one value: bytes after it make the message malformed.
  if (!reader.ReadValue(*value) || !reader.AtEnd()) {
    return nullptr;
  }
  return value;
}

std::unique_ptr<std::vector<uint8_t>> StandardMessageCodec::EncodeMessageInternal(
    const EncodableValue& message) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  internal::StandardCodecWriter(*bytes).WriteValue(message);
  return bytes;
}

}  // namespace flutter
