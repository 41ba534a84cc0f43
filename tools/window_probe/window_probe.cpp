// Test tool: finds PelnoVPN's top-level window and reads or drives it the way
// Windows does.
//   pelno-window-probe shown SECONDS   waits until the window is visible, then prints
//                                      {"title":..,"x":..,"y":..,"width":..,"height":..,
//                                       "clientWidth":..,"clientHeight":..}
//   pelno-window-probe close           posts WM_CLOSE, as the close button does
//   pelno-window-probe end-session     sends WM_QUERYENDSESSION, then WM_ENDSESSION
//                                      (ending) when the window agreed; prints
//                                      {"queryEndSession":N}
// Exit code 0 on success, 1 when the window is not found (or not shown in time).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND FindAppWindow() { return ::FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", L"PelnoVPN"); }

std::string Utf8(const wchar_t* text) {
  char buffer[512] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
  return buffer;
}

int Shown(int seconds) {
  for (int waited = 0; waited <= seconds * 10; ++waited) {
    HWND window = FindAppWindow();
    if (window && ::IsWindowVisible(window)) {
      wchar_t title[256] = {};
      ::GetWindowTextW(window, title, 256);
      RECT frame{}, client{};
      ::GetWindowRect(window, &frame);
      ::GetClientRect(window, &client);
      std::printf("{\"title\":\"%s\",\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld,"
                  "\"clientWidth\":%ld,\"clientHeight\":%ld}\n",
                  Utf8(title).c_str(), frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                  client.right, client.bottom);
      return 0;
    }
    ::Sleep(100);
  }
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"shown") return Shown(argc > 2 ? _wtoi(argv[2]) : 30);
  HWND window = FindAppWindow();
  if (!window) return 1;
  if (command == L"close") return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  if (command == L"end-session") {
    DWORD_PTR agreed = 0;
    ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 60000, &agreed);
    std::printf("{\"queryEndSession\":%d}\n", static_cast<int>(agreed));
    std::fflush(stdout);
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(window, WM_ENDSESSION, agreed ? TRUE : FALSE, ENDSESSION_LOGOFF, SMTO_NORMAL, 60000,
                          &ignored);
    return 0;
  }
  return 2;
}
