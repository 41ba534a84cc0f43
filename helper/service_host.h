// The helper program's three ways of running: installer, service under the service
// control manager, or the single plain process.
#pragma once

#include <windows.h>

#include <string_view>

namespace pelno {

class ControlServer;
class LocationPlatform;
class LogJournal;
class ProxySettingsPlatform;
class HelperSessionController;

inline constexpr wchar_t kSingleInstanceMutexName[] = L"PelnoVpnHelperSingletonV2";

// What the program serves with, built once by the program entry and kept for the
// whole life of the process.
struct HelperProgram {
  LogJournal& journal;
  HelperSessionController& session;
  ControlServer& server;
  LocationPlatform& locations;          // the installer's program path, the data directory
  ProxySettingsPlatform& proxySettings;  // the recovery at start
};

// Program entry: `commandLine` is the command line without the program name.
// Returns the process exit code.
int RunHelperProgram(std::wstring_view commandLine, HelperProgram& program);

}  // namespace pelno
