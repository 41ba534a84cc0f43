// Tells when a process ends, on a thread of its own, so a program learns at once
// that its engine died rather than at the next request.
#pragma once

#include <windows.h>

#include <functional>

#include "base/unique_handle.h"

namespace pelno {

class ProcessExitWatch {
 public:
  ProcessExitWatch() = default;
  ProcessExitWatch(const ProcessExitWatch&) = delete;
  ProcessExitWatch& operator=(const ProcessExitWatch&) = delete;
  ~ProcessExitWatch() { Cancel(); }

  // Cancels any earlier watch, then calls `onExit(exit code)` once `process` has
  // ended, unless Cancel comes first. The watch keeps its own copy of the handle.
  // False when the handle cannot be copied or no thread can be started.
  bool Start(HANDLE process, std::function<void(DWORD exitCode)> onExit);

  // From now on `onExit` is not called, unless it has already begun: callers that
  // share state with it check, under their own lock, that the exit is still news.
  // Never waits for the watching thread.
  void Cancel();

 private:
  UniqueHandle cancel_;
};

}  // namespace pelno
