#include "flutter/messenger_reference.h"

#include <memory>
#include <utility>

namespace flutter::internal {

namespace {

// Holds the messenger's lock for one send.
class ScopedMessengerLock {
 public:
  explicit ScopedMessengerLock(FlutterDesktopMessengerRef messenger)
      : messenger_(FlutterDesktopMessengerLock(messenger)) {}
  ~ScopedMessengerLock() { FlutterDesktopMessengerUnlock(messenger_); }
  ScopedMessengerLock(const ScopedMessengerLock&) = delete;
  ScopedMessengerLock& operator=(const ScopedMessengerLock&) = delete;

  bool available() const { return FlutterDesktopMessengerIsAvailable(messenger_); }

 private:
  FlutterDesktopMessengerRef messenger_;
};

void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  const std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  (*reply)(data, data_size);
}

}  // namespace

MessengerReference::MessengerReference(FlutterDesktopMessengerRef messenger)
    : messenger_(FlutterDesktopMessengerAddRef(messenger)) {}

MessengerReference::~MessengerReference() { FlutterDesktopMessengerRelease(messenger_); }

bool MessengerReference::Send(const char* channel,
                              const uint8_t* message,
                              size_t message_size) const {
  const ScopedMessengerLock lock(messenger_);
  return lock.available() && FlutterDesktopMessengerSend(messenger_, channel, message, message_size);
}

bool MessengerReference::SendWithReply(const char* channel,
                                       const uint8_t* message,
                                       size_t message_size,
                                       BinaryReply reply) const {
  auto owned_reply = std::make_unique<BinaryReply>(std::move(reply));
  {
    const ScopedMessengerLock lock(messenger_);
    if (lock.available() &&
        FlutterDesktopMessengerSendWithReply(messenger_, channel, message, message_size,
                                             &ForwardReply, owned_reply.get())) {
      // The engine calls ForwardReply exactly once, which frees it.
      owned_reply.release();
      return true;
    }
  }
  // Not sent: answered with no bytes, as the engine answers at shutdown.
  (*owned_reply)(nullptr, 0);
  return false;
}

void MessengerReference::SendResponse(const FlutterDesktopMessageResponseHandle* handle,
                                      const uint8_t* data,
                                      size_t data_length) const {
  const ScopedMessengerLock lock(messenger_);
  if (lock.available()) {
    FlutterDesktopMessengerSendResponse(messenger_, handle, data, data_length);
  }
}

}  // namespace flutter::internal
