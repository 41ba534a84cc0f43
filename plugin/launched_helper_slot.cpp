#include "plugin/launched_helper_slot.h"

#include "engine/data_locations.h"
#include "plugin/helper_client.h"

namespace pelno {
namespace {

constexpr UINT kHelperEndExitCode = 0;
constexpr DWORD kHelperEndWaitMs = 2000;

}  // namespace

bool LaunchedHelperSlot::Store(LaunchedProcess process) {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_) {
    process.TerminateAndWait(kHelperEndExitCode, kHelperEndWaitMs);
    return false;
  }
  process_ = std::move(process);  // the earlier start's handles close here
  launched_ = true;
  return true;
}

void LaunchedHelperSlot::EndLocked() {
  if (launched_) process_.TerminateAndWait(kHelperEndExitCode, kHelperEndWaitMs);
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

bool LaunchedHelperSlot::EnsureAnswering() {
  if (HelperAnswersPing(helper_)) return true;
  const ExecutableLookup program = FindHelperExecutable(locations_);
  if (!program.Found()) return false;
  LaunchOptions options;
  options.commandLine = L"\"" + program.path + L"\"";
  options.workingDirectory = ExecutableDirectory(locations_);
  options.hidden = true;
  LaunchedProcess launched;
  if (LaunchProcess(options, launched) != ERROR_SUCCESS) return false;
  if (!Store(std::move(launched))) return false;  // the application is closing
  for (int round = 0; round < startRounds_; ++round) {
    ::Sleep(kHelperStartPollMs);
    if (HelperAnswersPing(helper_)) return true;
  }
  return false;
}

}  // namespace pelno
