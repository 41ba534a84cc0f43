#include "runner/utils.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <iostream>

#include "base/unique_handle.h"
#include "flutter/flutter_windows.h"

void OpenDebugConsole() {
  if (!::AllocConsole()) return;
  if (!std::freopen("CONOUT$", "w", stdout)) _dup2(_fileno(stdout), 1);
  if (!std::freopen("CONOUT$", "w", stderr)) _dup2(_fileno(stdout), 2);
  std::ios::sync_with_stdio();
  FlutterDesktopResyncOutputStreams();
}

std::vector<std::string> ReadDartArguments() {
  int argc = 0;
  const pelno::UniqueLocalMemory<wchar_t**> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  if (!argv) return {};
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(WideToUtf8(argv.Get()[i]));
  return arguments;
}

std::string WideToUtf8(const wchar_t* utf16_string) {
  if (!utf16_string) return {};
  const int target_length =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16_string, -1, nullptr, 0, nullptr, nullptr) - 1;
  if (target_length <= 0) return {};
  std::string utf8_string(static_cast<std::size_t>(target_length), '\0');
  // The text without its terminator, which the target has no room for.
  const int converted =
      ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16_string, static_cast<int>(std::wcslen(utf16_string)),
                            utf8_string.data(), target_length, nullptr, nullptr);
  return converted == 0 ? std::string() : utf8_string;
}
