#include "flutter/stand_in_engine/platform_tasks.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace pelno::stand_in {
namespace {

constexpr wchar_t kTaskWindowClass[] = L"PELNO_STAND_IN_ENGINE_TASKS";
constexpr UINT kRunTasksMessage = WM_APP + 1;

void RegisterTaskWindowClass(WNDPROC windowProc) {
  WNDCLASSEXW windowClass{sizeof windowClass};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = LibraryModule();
  windowClass.lpszClassName = kTaskWindowClass;
  ::RegisterClassExW(&windowClass);  // a second registration fails harmlessly
}

}  // namespace

HINSTANCE LibraryModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

PlatformTaskRunner::PlatformTaskRunner() {
  RegisterTaskWindowClass(&WindowProc);
  window_ = ::CreateWindowExW(0, kTaskWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, LibraryModule(),
                              nullptr);
  if (window_) ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

PlatformTaskRunner::~PlatformTaskRunner() {
  if (window_) ::DestroyWindow(window_);
}

void PlatformTaskRunner::Post(std::function<void()> task) {
  std::lock_guard lock(lock_);
  const bool wake = pending_.empty();
  pending_.push_back(std::move(task));
  if (wake && window_) ::PostMessageW(window_, kRunTasksMessage, 0, 0);
}

void PlatformTaskRunner::RunPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(lock_);
    batch.swap(pending_);
  }
  for (auto& task : batch) task();
}

LRESULT CALLBACK PlatformTaskRunner::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRunTasksMessage) {
    if (auto* runner = reinterpret_cast<PlatformTaskRunner*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
      runner->RunPending();
    }
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace pelno::stand_in
