// Reads an engine's output pipe on a thread of its own while the engine runs, so an
// engine that has much to say never blocks on a full pipe and misses its deadline.
#pragma once

#include <windows.h>

#include <future>
#include <string>

#include "base/unique_handle.h"

namespace pelno {

// Output kept for diagnosis; the rest is read and dropped.
inline constexpr std::size_t kEngineOutputKeepBytes = 4096;

class EngineOutputReader {
 public:
  // Reads `readEnd` until the pipe ends. False when no thread could be started
  // (the read end is closed then).
  bool Start(UniqueHandle readEnd);

  // The first kEngineOutputKeepBytes of the output, once the pipe has ended or
  // `waitMs` have passed. A reader still blocked then (some other process holds
  // the write end) is left to end on its own; it owns all it uses.
  std::string Finish(DWORD waitMs);

 private:
  std::future<std::string> kept_;
};

}  // namespace pelno
