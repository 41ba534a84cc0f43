#include "urltest/engine_output_reader.h"

#include <algorithm>

#include "engine/process_launcher.h"

namespace pelno {
namespace {

// While the pipe is empty the engine is waited on in slices this long; a pipe that
// had output is read again at once. The wait still ends the moment the engine does.
constexpr DWORD kOutputPollMs = 10;

}  // namespace

DWORD WaitForEngineReadingOutput(HANDLE process, HANDLE readEnd, DWORD timeoutMs,
                                 std::string& output) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const bool readSome = DrainOutputPipe(readEnd, output, kEngineOutputKeepBytes) > 0;
    const ULONGLONG now = ::GetTickCount64();
    const bool late = now >= deadline;
    const DWORD slice =
        late || readSome ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(kOutputPollMs, deadline - now));
    const DWORD result = ::WaitForSingleObject(process, slice);
    if (result != WAIT_TIMEOUT || late) return result;
  }
}

void ReadRemainingOutput(HANDLE readEnd, std::string& output) {
  DrainOutputPipe(readEnd, output, kEngineOutputKeepBytes);
}

}  // namespace pelno
