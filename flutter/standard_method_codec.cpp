#include "flutter/standard_method_codec.h"

#include <variant>

#include "flutter/standard_codec_wire.h"

namespace flutter {

namespace {

constexpr uint8_t kEnvelopeSuccess = 0;
constexpr uint8_t kEnvelopeError = 1;

// Writes the value, or null when there is none (without copying the value).
void WriteOptional(internal::StandardCodecWriter& writer, const EncodableValue* value) {
  if (value != nullptr) {
    writer.WriteValue(*value);
  } else {
    writer.WriteValue(EncodableValue());
  }
}

}  // namespace

const StandardMethodCodec& StandardMethodCodec::GetInstance() {
  static const StandardMethodCodec instance;
  return instance;
}

StandardMethodCodec::StandardMethodCodec() = default;
StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCallInternal(
    const uint8_t* message, size_t message_size) const {
  if (message == nullptr && message_size != 0) {
    return nullptr;
  }
  internal::StandardCodecReader reader(message, message_size);
  EncodableValue name;
  EncodableValue arguments;
  if (!reader.ReadValue(name) || !reader.ReadValue(arguments) || !reader.AtEnd()) {
    return nullptr;
  }
  std::string* method_name = std::get_if<std::string>(&name);
  if (method_name == nullptr) {
    return nullptr;
  }
  // A null argument value means the call has no arguments.
  std::unique_ptr<EncodableValue> owned_arguments;
  if (!arguments.IsNull()) {
    owned_arguments = std::make_unique<EncodableValue>(std::move(arguments));
  }
  return std::make_unique<MethodCall<EncodableValue>>(*method_name, std::move(owned_arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCallInternal(
    const MethodCall<EncodableValue>& method_call) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  internal::StandardCodecWriter writer(*bytes);
  writer.WriteValue(EncodableValue(method_call.method_name()));
  WriteOptional(writer, method_call.arguments());
  return bytes;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelopeInternal(
    const EncodableValue* result) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  internal::StandardCodecWriter writer(*bytes);
  writer.WriteByte(kEnvelopeSuccess);
  WriteOptional(writer, result);
  return bytes;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelopeInternal(
    const std::string& error_code,
    const std::string& error_message,
    const EncodableValue* error_details) const {
  auto bytes = std::make_unique<std::vector<uint8_t>>();
  internal::StandardCodecWriter writer(*bytes);
  writer.WriteByte(kEnvelopeError);
  writer.WriteValue(EncodableValue(error_code));
  // No message is written as null.
  writer.WriteValue(error_message.empty() ? EncodableValue() : EncodableValue(error_message));
  WriteOptional(writer, error_details);
  return bytes;
}

bool StandardMethodCodec::DecodeAndProcessResponseEnvelopeInternal(
    const uint8_t* response, size_t response_size, MethodResult<EncodableValue>* result) const {
  if (response_size == 0) {
    result->NotImplemented();
    return true;
  }
  if (response == nullptr) {
    return false;
  }
  internal::StandardCodecReader reader(response, response_size);
  uint8_t envelope = 0;
  reader.ReadByte(envelope);
  if (envelope == kEnvelopeSuccess) {
    EncodableValue value;
    if (!reader.ReadValue(value) || !reader.AtEnd()) {
      return false;
    }
    result->Success(value);
    return true;
  }
  if (envelope == kEnvelopeError) {
    EncodableValue code;
    EncodableValue message;
    EncodableValue details;
    if (!reader.ReadValue(code) || !reader.ReadValue(message) || !reader.ReadValue(details) ||
        !reader.AtEnd()) {
      return false;
    }
    const std::string* code_text = std::get_if<std::string>(&code);
    const std::string* message_text = std::get_if<std::string>(&message);
    if (code_text == nullptr || (message_text == nullptr && !message.IsNull())) {
      return false;
    }
    const std::string message_or_empty = message_text ? *message_text : std::string();
    if (details.IsNull()) {
      result->Error(*code_text, message_or_empty);
    } else {
      result->Error(*code_text, message_or_empty, details);
    }
    return true;
  }
  return false;
}

}  // namespace flutter
