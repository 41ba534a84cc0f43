// The engine slot and the runner that starts and stops sing-box.exe in it.
#pragma once

#include <windows.h>

#include <string>

#include "engine/output_summary.h"
#include "base/unique_handle.h"

namespace pelno {

class LocationPlatform;

// Which program launches the engine: the helper collects the engine's output
// through a pipe and words its failures with details; the application does not.
enum class EngineVariant { kHelper, kApplication };

// The one engine a program runs. Owns both handles; only StopEngine empties it.
struct EngineProcess {
  UniqueHandle process;
  UniqueHandle thread;
  DWORD processId = 0;
  DWORD threadId = 0;
};

// Starts sing-box.exe on configPath into the slot and checks that it is still
// running 800 ms later. On failure writes the message to `error` and returns false.
bool StartEngine(EngineProcess& slot, const std::wstring& configPath, EngineVariant variant,
                 std::string& error);

// Terminates a running engine (exit code 0, waits up to 3 s) and empties the slot.
void StopEngine(EngineProcess& slot);

// The slot holds a process whose exit code is STILL_ACTIVE.
bool IsEngineRunning(const EngineProcess& slot);

// The bytes waiting in a pipe, read without ever blocking: at most 4096 per read,
// and no further read once more than 4096 have been collected.
std::string DrainOutputPipe(HANDLE readEnd);

// `"<engine>" run -c "<config>"`, both paths quoted as they are.
std::wstring EngineRunCommandLine(const std::wstring& enginePath, const std::wstring& configPath);

// Sets the three ENABLE_DEPRECATED_* variables to "true" in this process's
// environment, which every engine launched afterwards inherits.
void SetEngineEnvironment();

// Creates the helper engine's output pipe, both ends not inheritable. A seam
// because a failing CreatePipe cannot be produced on demand.
class OutputPipeFactory {
 public:
  virtual ~OutputPipeFactory() = default;
  virtual bool CreateOutputPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) = 0;
};

// CreatePipe with the system's default buffer size.
OutputPipeFactory& SystemOutputPipeFactory();

// StartEngine with the lookup, the data directory and the pipe taken from the
// given platforms (tests).
bool StartEngine(EngineProcess& slot, const std::wstring& configPath, EngineVariant variant,
                 std::string& error, LocationPlatform& locations, OutputPipeFactory& pipes);

}  // namespace pelno
