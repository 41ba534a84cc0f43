// The engine session both programs run: a start restores the user's proxy, stops
// the engine, writes the configuration, starts the engine, points the proxy at it
// and watches it; an end, or the engine's own exit, restores and stops. Not
// thread-safe: the owner makes every call under its lock, the exit report included.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/session_runtime.h"

namespace pelno {

class EngineSession {
 public:
  // Comes from the runtime's watching thread when the engine of session `session`
  // ends; the owner takes its lock and passes both on to EndAfterExit.
  using ExitReport = std::function<void(std::uint64_t session, std::uint32_t exitCode)>;

  // The runtime must outlive the session.
  explicit EngineSession(SessionRuntime& runtime) : runtime_(runtime) {}

  // Ends the current session, then runs `configText`; with a `proxyPort` the system
  // proxy points at it (proxy mode), without one it stays the user's (TUN mode).
  // True once the engine runs and is watched. On failure nothing runs, the proxy is
  // the user's, `error` says why, and a failed start or enable is logged.
  bool Start(std::string_view configText, std::optional<int> proxyPort, ExitReport onExit,
             std::string& error);
  // Restores the proxy (a failure's message into `restoreError`) and stops the
  // engine; an exit report from here on is no news.
  void End(std::string& restoreError);
  // The engine of `session` ended on its own: when that session is still the current
  // one, ends it, logs the exit and returns true.
  bool EndAfterExit(std::uint64_t session, std::uint32_t exitCode);
  bool IsEngineRunning() { return runtime_.IsEngineRunning(); }

 private:
  SessionRuntime& runtime_;
  // Each start that succeeds opens a new session; an end or the engine's exit
  // closes it, so a late exit report finds nothing to do.
  std::uint64_t session_ = 0;
  bool open_ = false;
  bool proxySet_ = false;
};

}  // namespace pelno
