// The engine session the helper runs for the application: start in proxy or TUN
// mode, stop, status. Every operation returns a status reply text.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "base/mutex.h"
#include "engine/engine_session.h"
#include "engine/session_runtime.h"

namespace pelno {

class HelperSessionController {
 public:
  explicit HelperSessionController(SessionRuntime& runtime) : runtime_(runtime), engine_(runtime) {}

  // Under the service manager a proxy start is refused and changes nothing: the system
  // proxy it would set is LocalSystem's own, not the signed-in user's.
  std::string StartProxySession(std::string_view configText);
  std::string StartTunSession(std::string_view configText);
  std::string StopSession();
  std::string GetSessionStatus();
  // Whether the engine runs, asked under the session lock so that the slot is never
  // read while a start or stop changes it; the answer may be stale at once.
  bool IsEngineRunning();

  // Said once by the service host before it serves.
  void RunUnderServiceManager() { underServiceManager_ = true; }

  // Restores the system proxy and stops the engine under the session lock; used when
  // the service stops or the plain process ends, so it never interleaves with a start.
  // Starts that come later (a connection accepted before the end) are refused.
  void ShutDown();

 private:
  enum class Mode { kProxy, kTun };
  std::string Start(std::string_view configText, Mode mode);

  SessionRuntime& runtime_;
  // Held for the whole of every start, stop, status and exit report: requests from
  // several connections never interleave on the engine slot and the saved proxy record.
  Mutex lock_;
  EngineSession engine_ GUARDED_BY(lock_);
  bool shutDown_ GUARDED_BY(lock_) = false;
  std::atomic<bool> underServiceManager_{false};
};

}  // namespace pelno
