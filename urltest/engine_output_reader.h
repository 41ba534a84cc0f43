// Waits for a fetch engine to end while reading its output pipe as the output comes,
// so that an engine with much to say never stalls on a full pipe and misses its
// deadline. Only what the pipe says it holds is read: no read waits for the pipe's
// last writer, so the reading ends with the engine whoever else still holds the
// write end (a console host, a process the engine started).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace pelno {

// Output kept for diagnosis; the rest is read and dropped.
inline constexpr std::size_t kEngineOutputKeepBytes = 4096;

// Waits up to `timeoutMs` for `process` to end, reading `readEnd` into `output`
// meanwhile. WAIT_OBJECT_0 when it ended in time, else WAIT_TIMEOUT (or WAIT_FAILED).
DWORD WaitForEngineReadingOutput(HANDLE process, HANDLE readEnd, DWORD timeoutMs,
                                 std::string& output);

// Reads what an engine that has ended left in the pipe, and nothing more.
void ReadRemainingOutput(HANDLE readEnd, std::string& output);

}  // namespace pelno
