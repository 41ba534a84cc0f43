#include "engine/process_exit_watch.h"

#include <memory>
#include <system_error>
#include <utility>

#include "base/detached_thread.h"

namespace pelno {
namespace {

// What the watching thread owns: its own copies of the process and cancel handles.
struct Watch {
  UniqueHandle process;
  UniqueHandle cancel;
  std::function<void(DWORD)> onExit;
};

bool Duplicate(HANDLE source, UniqueHandle& copy) {
  const HANDLE self = ::GetCurrentProcess();
  return ::DuplicateHandle(self, source, self, copy.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS) !=
         FALSE;
}

}  // namespace

bool ProcessExitWatch::Start(HANDLE process, std::function<void(DWORD exitCode)> onExit) {
  Cancel();
  auto watch = std::make_shared<Watch>();
  watch->onExit = std::move(onExit);
  UniqueHandle cancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!cancel || !Duplicate(process, watch->process) || !Duplicate(cancel.Get(), watch->cancel))
    return false;
  try {
    StartDetachedThread([watch] {
      // The cancel event comes first: when both are set, the cancel wins.
      const HANDLE events[] = {watch->cancel.Get(), watch->process.Get()};
      if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
      DWORD exitCode = 0;
      ::GetExitCodeProcess(watch->process.Get(), &exitCode);
      watch->onExit(exitCode);
    });
  } catch (const std::system_error&) {
    return false;
  }
  cancel_ = std::move(cancel);
  return true;
}

void ProcessExitWatch::Cancel() {
  if (cancel_) ::SetEvent(cancel_.Get());
  cancel_.Reset();
}

}  // namespace pelno
