// The engine slot and the runner that starts and stops sing-box.exe in it.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"
#include "engine/process_launcher.h"
#include "engine/data_locations.h"

namespace pelno {

// The one engine a program runs. Owns both handles; only StopEngine empties it.
using EngineProcess = LaunchedProcess;

// Creates the helper engine's output pipe, both ends not inheritable. A seam
// because a failing CreatePipe cannot be produced on demand.
class OutputPipeFactory {
 public:
  virtual ~OutputPipeFactory() = default;
  virtual bool CreateOutputPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) = 0;
};

// CreatePipe with the system's default buffer size.
class Win32OutputPipeFactory : public OutputPipeFactory {
 public:
  bool CreateOutputPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) override;
};

// The helper's engine: found next to the program or in its "data" folder only (never
// on the search path, whose folders an unprivileged user may write), its output
// collected through a pipe and quoted in a failure. Starts sing-box.exe on
// configPath into the slot, in `job`, and checks that it still runs 800 ms later; on
// failure writes the message to `error`, leaves the slot empty and returns false.
bool StartHelperEngine(EngineProcess& slot, const std::wstring& configPath, std::string& error,
                       LocationPlatform& locations, OutputPipeFactory& pipes, HANDLE job);

// The application's engine: found next to the program, in its "data" folder or on
// the search path, without a pipe. An engine that exited within the 800 ms stays in
// the slot until the caller stops it.
bool StartApplicationEngine(EngineProcess& slot, const std::wstring& configPath, std::string& error,
                            LocationPlatform& locations, HANDLE job);

// Terminates a running engine (exit code 0, waits up to 3 s) and empties the slot.
void StopEngine(EngineProcess& slot);

// The slot holds a process that has not ended (asked of the handle itself, so an
// engine whose exit code happens to be 259 does not count as running).
bool IsEngineRunning(const EngineProcess& slot);

// What every engine launch shares: `commandLine`, the data directory as working
// directory, the three variables the engine's configuration format needs, the
// program's engine job (CreateEngineJob; null: none). The caller adds pipes and
// inherited handles.
LaunchOptions EngineLaunchOptions(std::wstring commandLine, LocationPlatform& locations, HANDLE job);

// `"<engine>" run -c "<config>"`, both paths quoted as they are.
std::wstring EngineRunCommandLine(const std::wstring& enginePath, const std::wstring& configPath);

}  // namespace pelno
