#include "plugin/launched_helper_slot.h"

namespace pelno {
namespace {

constexpr DWORD kHelperEndWaitMs = 2000;

}  // namespace

void LaunchedHelperSlot::Terminate(LaunchedProcess& process) {
  if (process.process) {
    ::TerminateProcess(process.process.Get(), 0);
    ::WaitForSingleObject(process.process.Get(), kHelperEndWaitMs);
  }
  process = LaunchedProcess{};
}

bool LaunchedHelperSlot::Store(LaunchedProcess process) {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_) {
    Terminate(process);
    return false;
  }
  process_ = std::move(process);  // the earlier start's handles close here
  launched_ = true;
  return true;
}

void LaunchedHelperSlot::EndLocked() {
  if (launched_) Terminate(process_);
  process_ = LaunchedProcess{};
  launched_ = false;
}

void LaunchedHelperSlot::End() {
  std::lock_guard<std::mutex> guard(lock_);
  EndLocked();
}

void LaunchedHelperSlot::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  closed_ = true;
  EndLocked();
}

bool LaunchedHelperSlot::Holds() const {
  std::lock_guard<std::mutex> guard(lock_);
  return launched_ && process_.process.IsValid();
}

}  // namespace pelno
