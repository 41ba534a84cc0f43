// The service's status as the service manager is told it, written from one place:
// the service's main thread and the control handler's thread both report here.
#pragma once

#include <cstdint>

#include "base/mutex.h"

namespace pelno {

// The service manager's values (SERVICE_STOPPED ... SERVICE_RUNNING).
enum class ServiceState : std::uint32_t { kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4 };

inline constexpr std::uint32_t kAcceptStop = 0x1;      // SERVICE_ACCEPT_STOP
inline constexpr std::uint32_t kAcceptShutdown = 0x4;  // SERVICE_ACCEPT_SHUTDOWN
// How long the service manager waits for the next report while a state is pending.
// A stop waits for a session start still running (its start check) and the proxy's
// restore.
inline constexpr std::uint32_t kStartWaitHintMs = 5000;
inline constexpr std::uint32_t kStopWaitHintMs = 15000;

struct ServiceStatusReport {
  ServiceState state = ServiceState::kStopped;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t exitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHintMs = 0;
  bool operator==(const ServiceStatusReport&) const = default;
};

// SetServiceStatus with the service's status handle.
class ServiceStatusSink {
 public:
  virtual ~ServiceStatusSink() = default;
  virtual void SetStatus(const ServiceStatusReport& report) = 0;
};

class ServiceStatusReporter {
 public:
  explicit ServiceStatusReporter(ServiceStatusSink& sink) : sink_(sink) {}

  // Reports `state` under the lock. A pending state reported again advances the
  // check point. Stop and shutdown are accepted only while running (without shutdown
  // the proxy would stay set across a restart). Nothing goes back from a stop: a
  // start report after a stop began, and every report after the stop, are dropped.
  void Report(ServiceState state, std::uint32_t exitCode = 0);

 private:
  Mutex lock_;
  ServiceStatusSink& sink_;
  ServiceStatusReport last_ GUARDED_BY(lock_);
  bool reported_ GUARDED_BY(lock_) = false;
};

}  // namespace pelno
