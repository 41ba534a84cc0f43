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

  // The first kEngineOutputKeepBytes of the output when the reader has reached the
  // pipe's end, else nothing. Never waits: the output is for diagnosis only and must
  // not hold back a result. A reader still reading ends on its own; it owns all it uses.
  std::string Finish();

 private:
  std::future<std::string> kept_;
};

}  // namespace pelno
