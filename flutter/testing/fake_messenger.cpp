#include "flutter/testing/fake_messenger.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/mutex.h"

struct _FlutterPlatformMessageResponseHandle { int id = 0; };

struct FlutterDesktopMessenger {
  struct Callback { FlutterDesktopMessageCallback callback = nullptr; void* user_data = nullptr; };
  struct Sent {
    flutter::testing::FakeMessenger::SentMessage message;
    FlutterDesktopBinaryReply reply = nullptr;
    void* user_data = nullptr;
    bool replied = false;
  };
  struct Response { int count = 0; std::vector<uint8_t> bytes; };

  std::atomic<int> references{1};
  std::recursive_mutex lock;
  std::atomic<std::thread::id> lock_owner{};
  int lock_depth = 0;  // guarded by `lock`

  mutable pelno::Mutex mutex;
  mutable std::condition_variable changed;
  bool available GUARDED_BY(mutex) = true;
  std::thread::id platform_thread GUARDED_BY(mutex) = std::this_thread::get_id();
  std::map<std::string, Callback> callbacks GUARDED_BY(mutex);
  std::vector<Sent> sent GUARDED_BY(mutex);
  std::map<int, Response> responses GUARDED_BY(mutex);
  std::deque<_FlutterPlatformMessageResponseHandle> handles GUARDED_BY(mutex);
  int next_id GUARDED_BY(mutex) = 1;
  int unlocked_sends GUARDED_BY(mutex) = 0;

  // A send or response from a worker thread must hold the lock.
  void CheckLockedLocked() REQUIRES(mutex) {
    if (std::this_thread::get_id() != platform_thread && lock_owner.load() != std::this_thread::get_id())
      ++unlocked_sends;
  }

  // Answers every reply still pending with no bytes, as an engine that shuts down.
  void AnswerPendingReplies() EXCLUDES(mutex) {
    std::vector<std::pair<FlutterDesktopBinaryReply, void*>> pending;
    {
      pelno::MutexLock guard(mutex);
      for (Sent& entry : sent)
        if (entry.reply != nullptr && !std::exchange(entry.replied, true))
          pending.emplace_back(entry.reply, entry.user_data);
    }
    for (const auto& [reply, user_data] : pending) reply(nullptr, 0, user_data);
  }
};

extern "C" {

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  pelno::MutexLock guard(messenger->mutex);
  messenger->CheckLockedLocked();
  if (!messenger->available) return false;
  messenger->sent.push_back({{channel, {message, message + message_size}, reply != nullptr}, reply, user_data});
  messenger->changed.notify_all();
  return true;
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 const size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr, nullptr);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_length) {
  pelno::MutexLock guard(messenger->mutex);
  messenger->CheckLockedLocked();
  if (!messenger->available || handle == nullptr) return;
  FlutterDesktopMessenger::Response& response = messenger->responses[handle->id];
  if (++response.count == 1) response.bytes.assign(data, data + data_length);
  messenger->changed.notify_all();
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  pelno::MutexLock guard(messenger->mutex);
  if (callback == nullptr) messenger->callbacks.erase(channel);
  else messenger->callbacks[channel] = {callback, user_data};
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  messenger->references.fetch_add(1);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger->references.fetch_sub(1) == 1) std::unique_ptr<FlutterDesktopMessenger> last(messenger);
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  pelno::MutexLock guard(messenger->mutex);
  return messenger->available;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  messenger->lock.lock();
  if (messenger->lock_depth++ == 0) messenger->lock_owner.store(std::this_thread::get_id());
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (--messenger->lock_depth == 0) messenger->lock_owner.store(std::thread::id());
  messenger->lock.unlock();
}

}  // extern "C"

namespace flutter::testing {

// The messenger object lives as long as its references (this one and those
// taken with FlutterDesktopMessengerAddRef); the last Release frees it.
FakeMessenger::FakeMessenger() : messenger_(std::make_unique<FlutterDesktopMessenger>().release()) {}

FakeMessenger::~FakeMessenger() {
  SetAvailable(false);
  FlutterDesktopMessengerRelease(messenger_);
}

int FakeMessenger::Deliver(const std::string& channel, const std::vector<uint8_t>& message) {
  FlutterDesktopMessenger::Callback callback;
  const _FlutterPlatformMessageResponseHandle* handle = nullptr;
  int id = 0;
  {
    pelno::MutexLock guard(messenger_->mutex);
    messenger_->platform_thread = std::this_thread::get_id();
    id = messenger_->next_id++;
    if (!messenger_->available) return id;
    handle = &messenger_->handles.emplace_back(_FlutterPlatformMessageResponseHandle{id});
    const auto found = messenger_->callbacks.find(channel);
    if (found == messenger_->callbacks.end()) {
      messenger_->responses[id].count = 1;  // the engine answers "no handler" itself
      messenger_->changed.notify_all();
      return id;
    }
    callback = found->second;
  }
  const FlutterDesktopMessage desktop_message{sizeof(FlutterDesktopMessage), channel.c_str(),
                                              message.empty() ? nullptr : message.data(), message.size(), handle};
  callback.callback(messenger_, &desktop_message, callback.user_data);
  return id;
}

std::optional<std::vector<uint8_t>> FakeMessenger::WaitResponse(int id, std::chrono::milliseconds timeout) const {
  pelno::MutexLock guard(messenger_->mutex);
  const bool answered =
      guard.WaitFor(messenger_->changed, timeout,
                    [&]() REQUIRES(messenger_->mutex) { return messenger_->responses[id].count > 0; });
  return answered ? std::optional(messenger_->responses[id].bytes) : std::nullopt;
}

int FakeMessenger::ResponseCount(int id) const {
  pelno::MutexLock guard(messenger_->mutex);
  const auto found = messenger_->responses.find(id);
  return found == messenger_->responses.end() ? 0 : found->second.count;
}

std::vector<FakeMessenger::SentMessage> FakeMessenger::Sent() const {
  pelno::MutexLock guard(messenger_->mutex);
  std::vector<SentMessage> messages;
  for (const auto& entry : messenger_->sent) messages.push_back(entry.message);
  return messages;
}

bool FakeMessenger::WaitSent(size_t count, std::chrono::milliseconds timeout) const {
  pelno::MutexLock guard(messenger_->mutex);
  return guard.WaitFor(messenger_->changed, timeout,
                       [&]() REQUIRES(messenger_->mutex) { return messenger_->sent.size() >= count; });
}

bool FakeMessenger::ReplyToSent(size_t index, const std::vector<uint8_t>& reply) {
  FlutterDesktopMessenger::Sent entry;
  {
    pelno::MutexLock guard(messenger_->mutex);
    if (index >= messenger_->sent.size() || messenger_->sent[index].reply == nullptr ||
        std::exchange(messenger_->sent[index].replied, true))
      return false;
    entry = messenger_->sent[index];
  }
  entry.reply(reply.empty() ? nullptr : reply.data(), reply.size(), entry.user_data);
  return true;
}

void FakeMessenger::SetAvailable(bool available) {
  {
    std::lock_guard<std::recursive_mutex> engine_lock(messenger_->lock);
    pelno::MutexLock guard(messenger_->mutex);
    messenger_->available = available;
    if (!available) messenger_->callbacks.clear();
    messenger_->changed.notify_all();
  }
  if (!available) messenger_->AnswerPendingReplies();
}

int FakeMessenger::UnlockedSendsFromOtherThreads() const {
  pelno::MutexLock guard(messenger_->mutex);
  return messenger_->unlocked_sends;
}

}  // namespace flutter::testing
