// A client at the other end of a streamed reply, in memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/response_channel.h"

namespace pelno::testing {

// A client: takes `accepted` sends, then fails the others or, with `stall`, blocks in
// the next one until the stream is interrupted.
struct FakeClient : ResponseChannel {
  bool Send(std::string_view bytes) override {
    std::unique_lock lock(mutex);
    if (interrupted) return false;
    if (sent.size() < accepted) return (sent.emplace_back(bytes), true);
    stalled = stall;
    changed.notify_all();
    changed.wait(lock, [&] { return !stall || interrupted; });
    return false;
  }
  void Interrupt() override {
    std::lock_guard lock(mutex);
    ++interrupts;
    interrupted = true;
    changed.notify_all();
  }
  std::size_t accepted = SIZE_MAX;
  bool stall = false, stalled = false, interrupted = false;
  int interrupts = 0;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> sent;
};

}  // namespace pelno::testing
