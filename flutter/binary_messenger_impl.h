// BinaryMessengerImpl: the BinaryMessenger of an engine, over the engine
// library's C messenger functions. Handlers run on the platform thread; Send
// and every reply may be used from any thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flutter/binary_messenger.h"
#include "flutter/channel_sender.h"
#include "flutter/flutter_messenger.h"
#include "flutter/messenger_reference.h"

namespace flutter {

namespace internal {
struct MessageRegistration;
}  // namespace internal

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef core_messenger);
  // Removes this object's callbacks while the engine is still there.
  ~BinaryMessengerImpl() override;
  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  void Send(const std::string& channel,
            const uint8_t* message,
            size_t message_size,
            BinaryReply reply = nullptr) const override;

  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) const override;

  // A sender that keeps working (and drops messages) after this object and the
  // engine are gone.
  internal::ChannelSender MakeSender(const std::string& channel) const;

 private:
  void Retire(const std::string& channel) const;

  std::shared_ptr<internal::MessengerReference> messenger_;
  // Changed on the platform thread only; the engine calls back with a pointer
  // to the registration.
  mutable std::map<std::string, std::unique_ptr<internal::MessageRegistration>> handlers_;
  // Replaced registrations stay until this object goes: a handler may replace
  // or remove itself while it runs.
  mutable std::vector<std::unique_ptr<internal::MessageRegistration>> retired_;
};

}  // namespace flutter
