// The helper program's three ways of running: installer, service under the service
// control manager, or the single plain process.
#pragma once

#include <windows.h>

#include <string_view>

namespace pelno {

inline constexpr wchar_t kSingleInstanceMutexName[] = L"PelnoVpnHelperSingletonV2";

// Program entry: `commandLine` is the command line without the program name.
int RunHelperProgram(std::wstring_view commandLine);

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
void WINAPI ServiceControlHandler(DWORD control);
void ReportServiceStatus(DWORD state, DWORD exitCode);

}  // namespace pelno
