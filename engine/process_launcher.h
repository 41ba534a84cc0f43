// Starts a child process the way both programs start their engines: hidden,
// inheriting only the handles it is given, in the program's kill-on-close job.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle.h"

namespace pelno {

// A started child: owns both handles.
struct LaunchedProcess {
  UniqueHandle process;
  UniqueHandle thread;
  DWORD processId = 0;
  DWORD threadId = 0;

  // Ends the child with `exitCode` and waits up to `waitMs` for it to be gone. The
  // handles stay, so its exit code can still be read. Nothing without a process.
  void TerminateAndWait(UINT exitCode, DWORD waitMs) const;
};

struct LaunchOptions {
  std::wstring commandLine;
  std::wstring workingDirectory;
  // Variables set for the child on top of this process's environment, which itself
  // stays unchanged.
  std::vector<std::pair<std::wstring, std::wstring>> environment;
  // Exactly the handles the child may inherit; they are made inheritable for this
  // launch only. Empty: the child inherits nothing.
  std::vector<HANDLE> inheritedHandles;
  // Standard handles for the child (STARTF_USESTDHANDLES when any is set); each must
  // be listed in inheritedHandles.
  HANDLE standardInput = nullptr;
  HANDLE standardOutput = nullptr;
  HANDLE standardError = nullptr;
  // CREATE_NO_WINDOW and SW_HIDE.
  bool hidden = true;
  // DETACHED_PROCESS instead of CREATE_NO_WINDOW: the child gets no console at all,
  // so none is made for it (a console host process each, under Wine one that can
  // outlive the child holding its standard handles). For children whose output goes
  // to a pipe or nowhere.
  bool detached = false;
  // The child is put into this job before it runs (started suspended, assigned,
  // resumed); null: no job.
  HANDLE job = nullptr;
};

// Starts the child into `launched`. Returns 0, or the Win32 error code of the step
// that failed; on failure nothing is left running and `launched` is untouched.
DWORD LaunchProcess(const LaunchOptions& options, LaunchedProcess& launched);

// A kill-on-close job for a program's engines, created once in its main and held
// until the program ends: closing it (the program's exit, a crash, a kill) ends every
// engine in it. Empty when it cannot be created; engines then run outside a job.
UniqueHandle CreateEngineJob();

// The environment block `base` (as GetEnvironmentStringsW gives it) with `additions`
// set, names compared without regard to case, sorted as CreateProcessW expects.
std::wstring MergeEnvironmentBlock(const wchar_t* base,
                                   const std::vector<std::pair<std::wstring, std::wstring>>& additions);

// Reads what waits in a pipe without ever blocking, in reads of at most 4096 bytes,
// keeping up to `keepBytes` in `output` (the rest is read and dropped so the writer
// never stalls). Stops at an empty or broken pipe. Returns the bytes read.
std::size_t DrainOutputPipe(HANDLE readEnd, std::string& output, std::size_t keepBytes);

}  // namespace pelno
