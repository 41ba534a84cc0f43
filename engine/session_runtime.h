// What an engine session (engine/engine_session.h) needs of a program's engine
// runtime, behind one seam so that the sequence of a start or stop can be tested
// without Windows. Win32SessionRuntime (engine/win32_session_runtime.h) is the real one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pelno {

class SessionRuntime {
 public:
  virtual ~SessionRuntime() = default;
  // Each operation that can fail writes `error` only when it fails. A failed
  // StartEngine leaves no engine behind.
  virtual bool RestoreSystemProxy(std::string& error) = 0;
  virtual bool EnableSystemProxy(int port, std::string& error) = 0;
  virtual void StopEngine() = 0;
  virtual bool WriteEngineConfig(std::string_view configText, std::string& error) = 0;
  virtual bool StartEngine(std::string& error) = 0;
  virtual bool IsEngineRunning() = 0;
  // Calls `onExit(exit code)` from another thread when the engine just started ends;
  // StopEngine and the next WatchEngine cancel it (a call already under way may
  // still come).
  virtual void WatchEngine(std::function<void(std::uint32_t exitCode)> onExit) = 0;
  // A line for the program's log (the helper's journal; the application keeps none).
  virtual void AppendLog(std::string_view message) = 0;
};

}  // namespace pelno
