// The helper program the plug-in started itself as a hidden plain process (for
// latency tests), held so that the application's clean-up can end it. Worker
// threads, the platform thread and the clean-up all reach it, so it has a lock.
#pragma once

#include <mutex>

#include "engine/process_launcher.h"

namespace pelno {

class HelperTransport;
class LocationPlatform;

inline constexpr int kHelperStartRounds = 30;
inline constexpr DWORD kHelperStartPollMs = 100;

class LaunchedHelperSlot {
 public:
  LaunchedHelperSlot() = default;
  LaunchedHelperSlot(const LaunchedHelperSlot&) = delete;
  LaunchedHelperSlot& operator=(const LaunchedHelperSlot&) = delete;
  ~LaunchedHelperSlot() { End(); }

  // Keeps a newly started helper; the handles of an earlier start are closed. Once
  // the slot is closed a newcomer is ended at once and the answer is false.
  bool Store(LaunchedProcess process);
  // Terminates the held helper (exit code 0, waits up to 2 s) and empties the slot.
  void End();
  // End, and from now on end every newcomer (the application is closing).
  void Close();
  bool Holds() const;

 private:
  void EndLocked();

  mutable std::mutex lock_;
  LaunchedProcess process_;
  bool launched_ = false;
  bool closed_ = false;
};

// A helper answers "/ping", if need be after starting the helper program hidden
// with the user's rights into `slot` and trying "/ping" `startRounds` times, 100 ms
// apart.
bool EnsureHelperProcess(LaunchedHelperSlot& slot, HelperTransport& helper, LocationPlatform& locations,
                         int startRounds);

}  // namespace pelno
