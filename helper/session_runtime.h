// What the session controller needs of the engine runtime, behind one seam so the
// sequence of a start or stop can be tested without Windows.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

class SessionRuntime {
 public:
  virtual ~SessionRuntime() = default;
  // Each operation that can fail writes `error` only when it fails.
  virtual bool RestoreSystemProxy(std::string& error) = 0;
  virtual bool EnableSystemProxy(int port, std::string& error) = 0;
  virtual void StopEngine() = 0;
  virtual bool WriteEngineConfig(std::string_view configText, std::string& error) = 0;
  virtual bool StartEngine(std::string& error) = 0;
  virtual bool IsEngineRunning() = 0;
  virtual void AppendLog(std::string_view message) = 0;
};

}  // namespace pelno
