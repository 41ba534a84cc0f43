// The view: a child window that shows a short notice that the user interface
// bundle is not installed. A frame is the notice rendered into a bitmap on the
// platform thread, whether or not the window is visible yet, as the real engine
// renders before its window is shown; the next-frame callback runs after it.
#include <memory>

#include "flutter/stand_in_engine/engine_state.h"

namespace pelno::stand_in {
namespace {

constexpr wchar_t kViewWindowClass[] = L"PELNO_STAND_IN_FLUTTER_VIEW";
constexpr wchar_t kNotice[] =
    L"PelnoVPN\n\nThe user interface bundle is not installed.\n"
    L"This build runs a stand-in for the Flutter engine.";

void RenderFrame(FlutterDesktopView& view) {
  RECT client{};
  ::GetClientRect(view.window, &client);
  const SIZE size{client.right > 0 ? client.right : 1, client.bottom > 0 ? client.bottom : 1};
  HDC screen = ::GetDC(view.window);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, size.cx, size.cy);
  ::ReleaseDC(view.window, screen);
  if (memory && bitmap) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    RECT area{0, 0, size.cx, size.cy};
    HBRUSH background = ::CreateSolidBrush(RGB(0x1E, 0x22, 0x2B));
    ::FillRect(memory, &area, background);
    ::DeleteObject(background);
    ::SetBkMode(memory, TRANSPARENT);
    ::SetTextColor(memory, RGB(0xF2, 0xF4, 0xF8));
    ::SelectObject(memory, ::GetStockObject(DEFAULT_GUI_FONT));
    ::InflateRect(&area, -24, -48);
    ::DrawTextW(memory, kNotice, -1, &area, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(memory, previous);
    if (view.frame) ::DeleteObject(view.frame);
    view.frame = bitmap;
    view.frameSize = size;
    bitmap = nullptr;
  }
  if (bitmap) ::DeleteObject(bitmap);
  if (memory) ::DeleteDC(memory);
  ::InvalidateRect(view.window, nullptr, FALSE);
}

void PaintFrame(FlutterDesktopView& view) {
  PAINTSTRUCT paint;
  HDC target = ::BeginPaint(view.window, &paint);
  if (view.frame) {
    HDC memory = ::CreateCompatibleDC(target);
    HGDIOBJ previous = ::SelectObject(memory, view.frame);
    ::BitBlt(target, 0, 0, view.frameSize.cx, view.frameSize.cy, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, previous);
    ::DeleteDC(memory);
  }
  ::EndPaint(view.window, &paint);
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* view = reinterpret_cast<FlutterDesktopView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view) {
    switch (message) {
      case WM_PAINT:
        PaintFrame(*view);
        return 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_SIZE:
        ScheduleFrame(*view);
        return 0;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void RegisterViewClass() {
  WNDCLASSEXW windowClass{sizeof windowClass};
  windowClass.lpfnWndProc = &ViewWindowProc;
  windowClass.hInstance = LibraryModule();
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kViewWindowClass;
  ::RegisterClassExW(&windowClass);  // a second registration fails harmlessly
}

}  // namespace

std::unique_ptr<FlutterDesktopView> CreateView(FlutterDesktopEngine& engine, int width, int height) {
  RegisterViewClass();
  auto view = std::make_unique<FlutterDesktopView>();
  view->engine = &engine;
  view->window = ::CreateWindowExW(0, kViewWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                                   width > 0 ? width : 1, height > 0 ? height : 1, engine.tasks.window(), nullptr,
                                   LibraryModule(), nullptr);
  if (!view->window) return nullptr;
  ::SetWindowLongPtrW(view->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view.get()));
  return view;
}

void DestroyView(FlutterDesktopView& view) {
  if (view.window) {
    ::SetWindowLongPtrW(view.window, GWLP_USERDATA, 0);
    ::DestroyWindow(view.window);
    view.window = nullptr;
  }
  if (view.frame) ::DeleteObject(view.frame);
  view.frame = nullptr;
}

void ScheduleFrame(FlutterDesktopView& view) {
  FlutterDesktopView* target = &view;
  view.engine->tasks.Post([target] {
    RenderFrame(*target);
    FrameShown(*target->engine);
  });
}

}  // namespace pelno::stand_in

namespace {

// Windows 10 functions looked up at run time; older systems and Wine may lack them.
template <typename Function>
Function LookUp(const wchar_t* library, const char* name) {
  HMODULE module = ::GetModuleHandleW(library);
  if (!module) module = ::LoadLibraryW(library);  // stays loaded for the process
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

}  // namespace

extern "C" {

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = LookUp<GetDpiForMonitorFunction>(L"shcore.dll", "GetDpiForMonitor");
  UINT x = 0, y = 0;
  if (monitor && getDpiForMonitor && SUCCEEDED(getDpiForMonitor(monitor, 0 /* effective DPI */, &x, &y)) && x) {
    return x;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT FlutterDesktopGetDpiForHWND(HWND hwnd) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = LookUp<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (hwnd && getDpiForWindow) {
    if (const UINT dpi = getDpiForWindow(hwnd)) return dpi;
  }
  return FlutterDesktopGetDpiForMonitor(hwnd ? ::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST) : nullptr);
}

}  // extern "C"
