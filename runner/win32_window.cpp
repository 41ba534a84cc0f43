#include "runner/win32_window.h"

#include <dwmapi.h>

#include "flutter/flutter_windows.h"
#include "runner/window_geometry.h"

namespace {

constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr int kIconResource = 101;
constexpr wchar_t kThemeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kLightThemeValue[] = L"AppsUseLightTheme";
constexpr DWORD kUseImmersiveDarkMode = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE

// Number of Win32Window objects alive.
int active_window_count = 0;

// Lets the system scale the non-client area with the DPI where it can.
void EnableFullDpiSupportIfAvailable(HWND window) {
  HMODULE user32 = ::LoadLibraryA("User32.dll");
  if (!user32) return;
  using EnableNonClientDpiScaling = BOOL(WINAPI*)(HWND);
  if (auto enable = reinterpret_cast<EnableNonClientDpiScaling>(
          reinterpret_cast<void*>(::GetProcAddress(user32, "EnableNonClientDpiScaling")))) {
    enable(window);
  }
  ::FreeLibrary(user32);
}

}  // namespace

// The one window class of the program, registered on first use and unregistered
// when the last window object is gone.
class WindowClassRegistrar {
 public:
  static const wchar_t* GetWindowClass() {
    if (!registered_) {
      WNDCLASSW window_class{};
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.lpfnWndProc = &Win32Window::TopLevelWindowProc;
      window_class.hInstance = ::GetModuleHandleW(nullptr);
      window_class.hIcon = ::LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(kIconResource));
      window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
      window_class.lpszClassName = kWindowClassName;
      ::RegisterClassW(&window_class);
      registered_ = true;
    }
    return kWindowClassName;
  }

  static void UnregisterWindowClass() {
    ::UnregisterClassW(kWindowClassName, nullptr);
    registered_ = false;
  }

 private:
  static inline bool registered_ = false;
};

Win32Window::Win32Window() { ++active_window_count; }

Win32Window::~Win32Window() {
  --active_window_count;
  CloseTopLevel();
}

bool Win32Window::OpenTopLevel(const std::wstring& title, const Point& origin, const Size& size) {
  CloseTopLevel();
  const wchar_t* window_class = WindowClassRegistrar::GetWindowClass();

  const POINT target_point{static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = ::MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const double scale = pelno::runner::ScaleFactorForDpi(FlutterDesktopGetDpiForMonitor(monitor));
  using pelno::runner::ScaleToPhysical;

  HWND window = ::CreateWindowExW(0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, ScaleToPhysical(origin.x, scale),
                                  ScaleToPhysical(origin.y, scale), ScaleToPhysical(size.width, scale),
                                  ScaleToPhysical(size.height, scale), nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), this);
  if (!window) return false;
  ApplyTitleBarTheme(window);
  return OnWindowCreated();
}

bool Win32Window::ShowTopLevel() { return ::ShowWindow(window_handle_, SW_SHOWNORMAL); }

void Win32Window::CloseTopLevel() {
  OnWindowDestroyed();
  if (window_handle_) {
    ::DestroyWindow(window_handle_);
    window_handle_ = nullptr;
  }
  if (active_window_count == 0) WindowClassRegistrar::UnregisterWindowClass();
}

LRESULT CALLBACK Win32Window::TopLevelWindowProc(HWND const window, UINT const message, WPARAM const wparam,
                                                 LPARAM const lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    EnableFullDpiSupportIfAvailable(window);
    if (auto* that = static_cast<Win32Window*>(create->lpCreateParams)) that->window_handle_ = window;
  } else if (Win32Window* that = FromWindow(window)) {
    return that->HandleMessage(window, message, wparam, lparam);
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::HandleMessage(HWND window, UINT const message, WPARAM const wparam,
                                   LPARAM const lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      OnWindowDestroyed();
      if (active_window_count == 0) WindowClassRegistrar::UnregisterWindowClass();
      if (quit_on_destroy_) ::PostQuitMessage(0);
      return 0;

    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE: {
      const RECT rect = ClientRectangle();
      if (child_content_) {
        ::MoveWindow(child_content_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (child_content_) ::SetFocus(child_content_);
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplyTitleBarTheme(window);
      return 0;
  }
  return ::DefWindowProcW(window_handle_, message, wparam, lparam);
}

Win32Window* Win32Window::FromWindow(HWND const window) noexcept {
  return reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Win32Window::EmbedChildWindow(HWND content) {
  child_content_ = content;
  ::SetParent(content, window_handle_);
  const RECT frame = ClientRectangle();
  ::MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, TRUE);
  ::SetFocus(child_content_);
}

RECT Win32Window::ClientRectangle() const {
  RECT frame{};
  ::GetClientRect(window_handle_, &frame);
  return frame;
}

bool Win32Window::OnWindowCreated() { return true; }

void Win32Window::OnWindowDestroyed() {}

void Win32Window::ApplyTitleBarTheme(HWND const window) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  const LSTATUS result = ::RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kLightThemeValue, RRF_RT_REG_DWORD, nullptr,
                                        &light_mode, &light_mode_size);
  if (result == ERROR_SUCCESS) {
    const BOOL enable_dark_mode = light_mode == 0;
    ::DwmSetWindowAttribute(window, kUseImmersiveDarkMode, &enable_dark_mode, sizeof(enable_dark_mode));
  }
}
