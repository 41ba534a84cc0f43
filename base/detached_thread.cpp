#include "base/detached_thread.h"

#include <windows.h>
#include <process.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <system_error>
#include <utility>

namespace pelno {
namespace {

using Job = std::function<void()>;

unsigned __stdcall RunDetachedJob(void* parameter) {
  const std::unique_ptr<Job> job(static_cast<Job*>(parameter));
  (*job)();
  return 0;
}

}  // namespace

void StartDetachedThread(std::function<void()> job, std::size_t stackReserve) {
  auto owned = std::make_unique<Job>(std::move(job));
  const std::uintptr_t thread =
      ::_beginthreadex(nullptr, static_cast<unsigned>(stackReserve), RunDetachedJob, owned.get(),
                       stackReserve != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
  if (thread == 0) {
    throw std::system_error(errno, std::generic_category(), "_beginthreadex");
  }
  owned.release();  // the new thread frees it
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace pelno
