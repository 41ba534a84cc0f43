#include "flutter/binary_messenger_impl.h"

#include <atomic>
#include <utility>

namespace flutter {

namespace internal {

// What the engine's callback for one channel points at.
struct MessageRegistration {
  BinaryMessageHandler handler;
  std::shared_ptr<MessengerReference> messenger;
};

}  // namespace internal

namespace {

// A reply that may be called from any thread; only its first call is sent.
BinaryReply MakeReply(std::shared_ptr<internal::MessengerReference> messenger,
                      const FlutterDesktopMessageResponseHandle* handle) {
  if (handle == nullptr) {
    return [](const uint8_t*, size_t) {};
  }
  auto answered = std::make_shared<std::atomic<bool>>(false);
  return [messenger = std::move(messenger), handle, answered](const uint8_t* data, size_t size) {
    if (!answered->exchange(true)) {
      messenger->SendResponse(handle, data, size);
    }
  };
}

void ForwardMessage(FlutterDesktopMessengerRef,
                    const FlutterDesktopMessage* message,
                    void* user_data) {
  const auto* registration = static_cast<const internal::MessageRegistration*>(user_data);
  registration->handler(message->message, message->message_size,
                        MakeReply(registration->messenger, message->response_handle));
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef core_messenger)
    : messenger_(std::make_shared<internal::MessengerReference>(core_messenger)) {}

BinaryMessengerImpl::~BinaryMessengerImpl() {
  if (handlers_.empty()) {
    return;
  }
  FlutterDesktopMessengerRef messenger = FlutterDesktopMessengerLock(messenger_->get());
  if (FlutterDesktopMessengerIsAvailable(messenger)) {
    for (const auto& [channel, registration] : handlers_) {
      FlutterDesktopMessengerSetCallback(messenger, channel.c_str(), nullptr, nullptr);
    }
  }
  FlutterDesktopMessengerUnlock(messenger);
}

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message,
                               size_t message_size,
                               BinaryReply reply) const {
  if (reply) {
    messenger_->SendWithReply(channel.c_str(), message, message_size, std::move(reply));
  } else {
    messenger_->Send(channel.c_str(), message, message_size);
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) const {
  if (!handler) {
    FlutterDesktopMessengerSetCallback(messenger_->get(), channel.c_str(), nullptr, nullptr);
    Retire(channel);
    return;
  }
  auto registration = std::make_unique<internal::MessageRegistration>();
  registration->handler = std::move(handler);
  registration->messenger = messenger_;
  // The engine switches to the new registration before the old one is freed.
  FlutterDesktopMessengerSetCallback(messenger_->get(), channel.c_str(), &ForwardMessage,
                                     registration.get());
  Retire(channel);
  handlers_[channel] = std::move(registration);
}

void BinaryMessengerImpl::Retire(const std::string& channel) const {
  const auto found = handlers_.find(channel);
  if (found != handlers_.end()) {
    retired_.push_back(std::move(found->second));
    handlers_.erase(found);
  }
}

internal::ChannelSender BinaryMessengerImpl::MakeSender(const std::string& channel) const {
  return [messenger = messenger_, channel](const uint8_t* message, size_t message_size) {
    messenger->Send(channel.c_str(), message, message_size);
  };
}

namespace internal {

ChannelSender MakeChannelSender(const BinaryMessenger* messenger, const std::string& channel) {
  if (const auto* engine_messenger = dynamic_cast<const BinaryMessengerImpl*>(messenger)) {
    return engine_messenger->MakeSender(channel);
  }
  return [messenger, channel](const uint8_t* message, size_t message_size) {
    messenger->Send(channel, message, message_size);
  };
}

}  // namespace internal

}  // namespace flutter
