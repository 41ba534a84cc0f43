// The helper program the plug-in started itself as a hidden plain process (for
// latency tests), held so that the application's clean-up can end it. Worker
// threads, the platform thread and the clean-up all reach it, so it has a lock.
#pragma once

#include <mutex>

#include "engine/process_launcher.h"
#include "plugin/launched_helper.h"

namespace pelno {

class HelperTransport;
class LocationPlatform;

inline constexpr int kHelperStartRounds = 30;
inline constexpr DWORD kHelperStartPollMs = 100;

class LaunchedHelperSlot : public LaunchedHelper {
 public:
  // The helper is the program found through `locations`, asked through `helper`;
  // both must outlive the slot.
  LaunchedHelperSlot(HelperTransport& helper, LocationPlatform& locations, int startRounds)
      : helper_(helper), locations_(locations), startRounds_(startRounds) {}
  LaunchedHelperSlot(const LaunchedHelperSlot&) = delete;
  LaunchedHelperSlot& operator=(const LaunchedHelperSlot&) = delete;
  ~LaunchedHelperSlot() override { End(); }

  // A helper answers "/ping", if need be after starting the helper program hidden
  // with the user's rights and trying "/ping" `startRounds` times, 100 ms apart.
  bool EnsureAnswering() override;

  // Keeps a newly started helper; the handles of an earlier start are closed. Once
  // the slot is closed a newcomer is ended at once and the answer is false.
  bool Store(LaunchedProcess process);
  // Terminates the held helper (exit code 0, waits up to 2 s) and empties the slot.
  void End() override;
  void Close() override;
  bool Holds() const;

 private:
  void EndLocked();

  HelperTransport& helper_;
  LocationPlatform& locations_;
  const int startRounds_;
  mutable std::mutex lock_;
  LaunchedProcess process_;
  bool launched_ = false;
  bool closed_ = false;
};

}  // namespace pelno
