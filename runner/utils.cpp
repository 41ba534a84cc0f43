#include "runner/utils.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>

#include "base/text_encoding.h"
#include "base/unique_handle.h"
#include "flutter/flutter_windows.h"

void OpenDebugConsole() {
  if (!::AllocConsole()) return;
  if (!std::freopen("CONOUT$", "w", stdout)) _dup2(_fileno(stdout), 1);
  if (!std::freopen("CONOUT$", "w", stderr)) _dup2(_fileno(stdout), 2);
  std::ios::sync_with_stdio();
  FlutterDesktopResyncOutputStreams();
}

std::vector<std::string> ReadDartArguments(const wchar_t* commandLine) {
  int argc = 0;
  const pelno::UniqueLocalMemory<wchar_t**> argv(::CommandLineToArgvW(commandLine, &argc));
  if (!argv) return {};
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(pelno::WideToUtf8(argv.Get()[i]));
  return arguments;
}
