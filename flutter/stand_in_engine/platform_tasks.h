// Runs work on the platform thread (the thread that created the runner, which runs
// the window message loop): a message-only window is woken for each posted batch.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

namespace pelno::stand_in {

class PlatformTaskRunner {
 public:
  PlatformTaskRunner();   // on the platform thread
  ~PlatformTaskRunner();  // on the platform thread; tasks not yet run are dropped

  PlatformTaskRunner(const PlatformTaskRunner&) = delete;
  PlatformTaskRunner& operator=(const PlatformTaskRunner&) = delete;

  // From any thread.
  void Post(std::function<void()> task);

  // A window owned by the platform thread that never shows: the parent of views
  // that are not embedded yet.
  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void RunPending();

  HWND window_ = nullptr;
  std::mutex lock_;
  std::deque<std::function<void()>> pending_;
};

// The module handle of this library.
HINSTANCE LibraryModule();

}  // namespace pelno::stand_in
