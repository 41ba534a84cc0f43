// The messenger functions of the engine library.
#include <memory>
#include <mutex>

#include "flutter/stand_in_engine/engine_state.h"

using pelno::stand_in::ChannelMessage;

namespace pelno::stand_in {

void DeliverChannelMessage(FlutterDesktopEngine& engine, ChannelMessage message, std::uint64_t client) {
  FlutterDesktopEngine::Channel channel;
  {
    std::lock_guard lock(engine.channelsLock);
    if (auto found = engine.channels.find(message.channel); found != engine.channels.end()) channel = found->second;
  }
  if (!channel.callback) {
    // No handler: the empty reply, as the engine gives Dart for an unhandled channel.
    if (engine.bridge) engine.bridge->SendReply(client, message.id, nullptr, 0);
    return;
  }
  // Freed by FlutterDesktopMessengerSendResponse, which the receiver calls exactly once.
  auto handle = std::make_unique<_FlutterPlatformMessageResponseHandle>();
  handle->id = message.id;
  handle->client = client;
  const FlutterDesktopMessage delivered{sizeof(FlutterDesktopMessage), message.channel.c_str(),
                                        message.message.data(), message.message.size(), handle.release()};
  channel.callback(engine.messenger, &delivered, channel.userData);
}

}  // namespace pelno::stand_in

extern "C" {

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  if (!messenger || !channel) return false;
  bool sent = false;
  {
    std::lock_guard lock(messenger->lock);
    FlutterDesktopEngine* engine = messenger->engine;
    sent = engine && engine->bridge && engine->bridge->SendNativeMessage(channel, message, message_size);
  }
  // The bridge client never answers native messages: the reply, sent or not, is the
  // empty one of a channel without a handler on the other side.
  if (reply) reply(nullptr, 0, user_data);
  return sent;
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr, nullptr);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_length) {
  std::unique_ptr<const _FlutterPlatformMessageResponseHandle> owned(handle);
  if (!messenger || !owned) return;
  std::lock_guard lock(messenger->lock);
  if (FlutterDesktopEngine* engine = messenger->engine; engine && engine->bridge) {
    engine->bridge->SendReply(owned->client, owned->id, data, data_length);
  }
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!messenger || !channel) return;
  std::lock_guard lock(messenger->lock);
  FlutterDesktopEngine* engine = messenger->engine;
  if (!engine) return;
  std::lock_guard channelsLock(engine->channelsLock);
  if (callback) {
    engine->channels[channel] = {callback, user_data};
  } else {
    engine->channels.erase(channel);
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  if (messenger) ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger && --messenger->references == 0) std::unique_ptr<FlutterDesktopMessenger> last(messenger);
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!messenger) return false;
  std::lock_guard lock(messenger->lock);
  return messenger->engine != nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->lock.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->lock.unlock();
}

}  // extern "C"
