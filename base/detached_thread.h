// A thread that nobody joins, started through the C runtime.
//
// Not std::thread::detach: under load, detached std::threads of the mingw-w64
// runtime were seen running a job that had already been freed (a crash in
// libstdc++'s thread start routine), which points at winpthreads' detach
// bookkeeping. A CRT thread whose handle is closed at once has none.
#pragma once

#include <cstddef>
#include <functional>

namespace pelno {

// Starts `job` on a new thread and lets it go; throws std::system_error when no
// thread can be created. A non-zero `stackReserve` replaces the program's default
// stack reservation (bytes).
void StartDetachedThread(std::function<void()> job, std::size_t stackReserve = 0);

}  // namespace pelno
