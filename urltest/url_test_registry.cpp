#include "urltest/url_test_registry.h"

#include <algorithm>

#include "server/response_channel.h"

namespace pelno {

UrlTestRegistry::RunId UrlTestRegistry::BeginRun(const std::string& requestId, ResponseChannel& stream) {
  MutexLock lock(mutex_);
  const RunId run = ++lastRun_;
  runs_[run] = Run{requestId, &stream, false, {}};
  return run;
}

void UrlTestRegistry::EndRun(RunId run) {
  MutexLock lock(mutex_);
  runs_.erase(run);
}

bool UrlTestRegistry::IsStopping(RunId run) const {
  const auto found = runs_.find(run);
  return found == runs_.end() || found->second.stopping;
}

bool UrlTestRegistry::IsRunStopping(RunId run) const {
  MutexLock lock(mutex_);
  return IsStopping(run);
}

std::size_t UrlTestRegistry::Stop(RunId run, Run& state) {
  state.stopping = true;
  for (const ProcessRef process : state.processes) terminate_(process);
  for (PlaceWaiter* waiter : waiters_) {
    if (waiter->run == run) waiter->wake.notify_one();
  }
  return state.processes.size();
}

bool UrlTestRegistry::AbandonRun(RunId run) {
  MutexLock lock(mutex_);
  const auto found = runs_.find(run);
  if (found == runs_.end() || found->second.stopping) return false;
  Stop(run, found->second);
  return true;
}

std::size_t UrlTestRegistry::CancelRun(const std::string& requestId) {
  if (requestId.empty()) return 0;
  MutexLock lock(mutex_);
  std::size_t terminated = 0;
  for (auto& [run, state] : runs_) {
    if (state.requestId != requestId) continue;
    terminated += Stop(run, state);
    state.stream->Interrupt();
  }
  return terminated;
}

bool UrlTestRegistry::RegisterRunProcess(RunId run, ProcessRef process) {
  MutexLock lock(mutex_);
  const auto found = runs_.find(run);
  if (found == runs_.end()) return false;
  if (process != nullptr) found->second.processes.push_back(process);
  return !found->second.stopping;
}

void UrlTestRegistry::UnregisterRunProcess(RunId run, ProcessRef process) {
  MutexLock lock(mutex_);
  const auto found = runs_.find(run);
  if (found != runs_.end()) std::erase(found->second.processes, process);
}

void UrlTestRegistry::WakeFirstWaiter() {
  if (freePlaces_ > 0 && !waiters_.empty()) waiters_.front()->wake.notify_one();
}

bool UrlTestRegistry::TakeEnginePlace(RunId run) {
  MutexLock lock(mutex_);
  PlaceWaiter self{run, {}};
  waiters_.push_back(&self);
  lock.Wait(self.wake, [&]() REQUIRES(mutex_) {
    return IsStopping(run) || (freePlaces_ > 0 && waiters_.front() == &self);
  });
  waiters_.remove(&self);
  const bool taken = !IsStopping(run);
  if (taken) --freePlaces_;
  WakeFirstWaiter();  // a place may be left, or the line has moved up
  return taken;
}

void UrlTestRegistry::GiveEnginePlace() {
  MutexLock lock(mutex_);
  ++freePlaces_;
  WakeFirstWaiter();
}

}  // namespace pelno
