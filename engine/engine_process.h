// The engine slot and the runner that starts and stops sing-box.exe in it.
#pragma once

#include <windows.h>

#include <string>

#include "engine/unique_handle.h"

namespace pelno {

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

}  // namespace pelno
