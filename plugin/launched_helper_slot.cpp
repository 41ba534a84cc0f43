#include "plugin/launched_helper_slot.h"

#include <algorithm>

#include "plugin/helper_client.h"

namespace pelno {

bool LaunchedHelperSlot::EnsureAnswering() {
  MutexLock lock(lock_);
  if (closed_) return false;
  if (attempting_) {
    const std::uint64_t underWay = attemptsDone_;
    lock.Wait(attemptDone_, [&]() REQUIRES(lock_) { return attemptsDone_ != underWay; });
    return lastAnswered_ && !closed_;
  }
  attempting_ = true;
  lock.Unlock();
  const bool answered = PingOrStart();
  lock.Lock();
  attempting_ = false;
  ++attemptsDone_;
  lastAnswered_ = answered;
  attemptDone_.notify_all();
  return answered && !closed_;
}

bool LaunchedHelperSlot::PingOrStart() {
  if (HelperAnswersPing(helper_)) return true;
  {
    MutexLock guard(lock_);
    if (closed_ || holds_ > 0) return false;
    launching_ = true;
  }
  std::unique_ptr<HelperProcess> started = launcher_.Launch();
  {
    MutexLock guard(lock_);
    launching_ = false;
    launchDone_.notify_all();  // End and Close wake once this is released
    if (!started) return false;
    if (closed_ || holds_ > 0) {  // either began while it launched
      started->End();
      return false;
    }
    // A start while another helper runs exits at once; such ones are let go here.
    std::erase_if(started_, [](const std::unique_ptr<HelperProcess>& held) { return held->HasExited(); });
    started_.push_back(std::move(started));
  }
  for (int round = 0; round < startRounds_ && !StartsHeldOff(); ++round) {
    launcher_.Sleep(kHelperStartPollMs);
    if (HelperAnswersPing(helper_)) return true;
  }
  return false;
}

bool LaunchedHelperSlot::StartsHeldOff() const {
  MutexLock guard(lock_);
  return closed_ || holds_ > 0;
}

void LaunchedHelperSlot::EndAndWait(MutexLock& lock) {
  for (const std::unique_ptr<HelperProcess>& held : started_) held->End();
  started_.clear();
  lock.Wait(launchDone_, [this]() REQUIRES(lock_) { return !launching_; });
}

void LaunchedHelperSlot::End() {
  MutexLock lock(lock_);
  ++holds_;
  EndAndWait(lock);
}

void LaunchedHelperSlot::Resume() {
  MutexLock guard(lock_);
  if (holds_ > 0) --holds_;
}

void LaunchedHelperSlot::Close() {
  MutexLock lock(lock_);
  closed_ = true;
  EndAndWait(lock);
}

std::vector<std::uint32_t> LaunchedHelperSlot::RunningProcessIds() const {
  MutexLock guard(lock_);
  std::vector<std::uint32_t> running;
  for (const std::unique_ptr<HelperProcess>& held : started_) {
    if (!held->HasExited()) running.push_back(held->ProcessId());
  }
  return running;
}

std::size_t LaunchedHelperSlot::HeldHelperCount() const {
  MutexLock guard(lock_);
  return started_.size();
}

}  // namespace pelno
