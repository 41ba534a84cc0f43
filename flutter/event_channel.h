// EventChannel<T>: a stream of events from native code to the Flutter side.
// The Flutter side calls "listen" to start the stream and "cancel" to end it;
// each event is an envelope sent on the channel's name, and the end of the
// stream is an empty message.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flutter/binary_messenger.h"
#include "flutter/channel_sender.h"
#include "flutter/encodable_value.h"
#include "flutter/event_sink.h"
#include "flutter/event_stream_handler.h"
#include "flutter/method_codec.h"

namespace flutter {

namespace internal {

// The sink handed to OnListen: encodes each event and sends it on the channel.
template <typename T>
class ChannelEventSink : public EventSink<T> {
 public:
  ChannelEventSink(ChannelSender sender, const MethodCodec<T>* codec)
      : sender_(std::move(sender)), codec_(codec) {}

 protected:
  void SuccessInternal(const T* event) override {
    const std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeSuccessEnvelope(event);
    sender_(data->data(), data->size());
  }
  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const T* error_details) override {
    const std::unique_ptr<std::vector<uint8_t>> data =
        codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    sender_(data->data(), data->size());
  }
  void EndOfStreamInternal() override { sender_(nullptr, 0); }

 private:
  ChannelSender sender_;
  const MethodCodec<T>* codec_;
};

}  // namespace internal

template <typename T = EncodableValue>
class EventChannel {
 public:
  // `messenger` and `codec` must outlive the channel and its handler; a sink
  // may outlive both when the messenger is the engine's.
  EventChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~EventChannel() = default;
  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  // Installs the handler (null removes it). A second "listen" while a stream is
  // active cancels the first one before it starts the new one; a "cancel"
  // without a stream answers an error.
  void SetStreamHandler(std::unique_ptr<StreamHandler<T>> handler) {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    std::shared_ptr<StreamHandler<T>> shared_handler(std::move(handler));
    const MethodCodec<T>* codec = codec_;
    const BinaryMessenger* messenger = messenger_;
    const std::string channel = name_;
    // Touched only by the platform thread, which delivers every listen and cancel.
    auto listening = std::make_shared<bool>(false);
    BinaryMessageHandler binary_handler = [shared_handler, codec, messenger, channel, listening](
                                              const uint8_t* message, size_t message_size,
                                              BinaryReply reply) {
      const std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
      if (!call) {
        reply(nullptr, 0);
        return;
      }
      std::unique_ptr<std::vector<uint8_t>> answer;
      if (call->method_name() == "listen") {
        if (*listening) {
          shared_handler->OnCancel(nullptr);
          *listening = false;
        }
        auto sink = std::make_unique<internal::ChannelEventSink<T>>(
            internal::MakeChannelSender(messenger, channel), codec);
        const std::unique_ptr<StreamHandlerError<T>> error =
            shared_handler->OnListen(call->arguments(), std::move(sink));
        answer = EncodeOutcome(*codec, error.get());
        *listening = !error;
      } else if (call->method_name() == "cancel") {
        if (!*listening) {
          answer = codec->EncodeErrorEnvelope("error", "No active stream to cancel");
        } else {
          *listening = false;
          const std::unique_ptr<StreamHandlerError<T>> error =
              shared_handler->OnCancel(call->arguments());
          answer = EncodeOutcome(*codec, error.get());
        }
      } else {
        reply(nullptr, 0);
        return;
      }
      reply(answer->data(), answer->size());
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

 private:
  static std::unique_ptr<std::vector<uint8_t>> EncodeOutcome(const MethodCodec<T>& codec,
                                                             const StreamHandlerError<T>* error) {
    if (error == nullptr) {
      return codec.EncodeSuccessEnvelope();
    }
    return codec.EncodeErrorEnvelope(error->error_code, error->error_message,
                                     error->error_details.get());
  }

  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
