// The helper programs the plug-in started itself as hidden plain processes (for
// latency tests), held so that the application's clean-up ends them. Worker threads,
// the platform thread and the clean-up all reach it: one start at a time, and callers
// that arrive while one is under way share its outcome instead of starting another.
// End and Close wait for a launch under way; one that returns after either began is
// ended at once, never held.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/mutex.h"
#include "plugin/helper_launcher.h"
#include "plugin/helper_transport.h"
#include "plugin/launched_helper.h"

namespace pelno {

inline constexpr int kHelperStartRounds = 30;
inline constexpr std::uint32_t kHelperStartPollMs = 100;

class LaunchedHelperSlot : public LaunchedHelper {
 public:
  // The helper is asked through `helper` and started through `launcher`; both must
  // outlive the slot.
  LaunchedHelperSlot(HelperTransport& helper, HelperLauncher& launcher, int startRounds)
      : helper_(helper), launcher_(launcher), startRounds_(startRounds) {}
  LaunchedHelperSlot(const LaunchedHelperSlot&) = delete;
  LaunchedHelperSlot& operator=(const LaunchedHelperSlot&) = delete;
  ~LaunchedHelperSlot() override { Close(); }

  // A helper answers "/ping", if need be after starting the helper program (not
  // between End and Resume) and trying "/ping" `startRounds` times, 100 ms apart.
  bool EnsureAnswering() override;
  void End() override;
  void Resume() override;
  void Close() override;
  std::vector<std::uint32_t> RunningProcessIds() const override;
  // How many helpers started here are held (running or not yet found exited).
  std::size_t HeldHelperCount() const;

 private:
  // Pings, and starts a helper when none answers; the lock is not held.
  bool PingOrStart() EXCLUDES(lock_);
  // Closed, or between End and Resume: the helper started is gone or about to go.
  bool StartsHeldOff() const EXCLUDES(lock_);
  // Ends what is held, then waits until no launch is under way (one returning now
  // ends its own helper: starts are held off); the lock is held.
  void EndAndWait(MutexLock& lock) REQUIRES(lock_);

  HelperTransport& helper_;
  HelperLauncher& launcher_;
  const int startRounds_;
  mutable Mutex lock_;
  std::condition_variable attemptDone_;
  std::condition_variable launchDone_;
  bool attempting_ GUARDED_BY(lock_) = false;
  bool launching_ GUARDED_BY(lock_) = false;  // a Launch call is under way
  int holds_ GUARDED_BY(lock_) = 0;           // Ends not yet resumed
  std::uint64_t attemptsDone_ GUARDED_BY(lock_) = 0;
  bool lastAnswered_ GUARDED_BY(lock_) = false;
  bool closed_ GUARDED_BY(lock_) = false;
  std::vector<std::unique_ptr<HelperProcess>> started_ GUARDED_BY(lock_);
};

}  // namespace pelno
