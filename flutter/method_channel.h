// MethodChannel<T>: method calls on one named channel, both ways.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flutter/binary_messenger.h"
#include "flutter/encodable_value.h"
#include "flutter/engine_method_result.h"
#include "flutter/method_call.h"
#include "flutter/method_codec.h"
#include "flutter/method_result.h"

namespace flutter {

template <typename T>
using MethodCallHandler =
    std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

template <typename T = EncodableValue>
class MethodChannel {
 public:
  // `messenger` and `codec` must outlive the channel and its handler.
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~MethodChannel() = default;
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Calls a method on the Flutter side. `result`, when given, receives the
  // answer; a reply that is not an envelope becomes an error "malformed_reply".
  void InvokeMethod(const std::string& method,
                    std::unique_ptr<T> arguments,
                    std::unique_ptr<MethodResult<T>> result = nullptr) {
    const MethodCall<T> call(method, std::move(arguments));
    const std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeMethodCall(call);
    if (!result) {
      messenger_->Send(name_, message->data(), message->size(), nullptr);
      return;
    }
    std::shared_ptr<MethodResult<T>> shared_result(std::move(result));
    const MethodCodec<T>* codec = codec_;
    BinaryReply on_reply = [shared_result, codec](const uint8_t* reply, size_t reply_size) {
      if (!codec->DecodeAndProcessResponseEnvelope(reply, reply_size, shared_result.get())) {
        shared_result->Error("malformed_reply", "The reply is not a method call envelope");
      }
    };
    messenger_->Send(name_, message->data(), message->size(), std::move(on_reply));
  }

  // Installs the handler of incoming calls (null removes it). A message that is
  // not a method call is answered "not implemented".
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    const MethodCodec<T>* codec = codec_;
    BinaryMessageHandler binary_handler = [handler, codec](const uint8_t* message,
                                                            size_t message_size,
                                                            BinaryReply reply) {
      auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
      std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
      if (!call) {
        result->NotImplemented();
        return;
      }
      handler(*call, std::move(result));
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
