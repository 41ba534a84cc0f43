#include "server/accepting_roster.h"

namespace pelno {

bool AcceptingRoster::Reserve() {
  MutexLock lock(mutex_);
  if (stopped_) return false;
  ++accepting_;
  return true;
}

bool AcceptingRoster::LeaveToServe() {
  MutexLock lock(mutex_);
  if (accepting_ > 1 || stopped_) {
    --accepting_;
    if (accepting_ == 0) none_.notify_all();
    return false;
  }
  return true;  // this thread's place passes to its replacement
}

bool AcceptingRoster::Rejoin() {
  MutexLock lock(mutex_);
  if (stopped_ || accepting_ >= maxAccepting_) return false;
  ++accepting_;
  return true;
}

void AcceptingRoster::Leave() {
  MutexLock lock(mutex_);
  if (--accepting_ == 0) none_.notify_all();
}

void AcceptingRoster::Stop() {
  MutexLock lock(mutex_);
  stopped_ = true;
}

void AcceptingRoster::WaitUntilNoneAccepts() {
  MutexLock lock(mutex_);
  lock.Wait(none_, [this]() REQUIRES(mutex_) { return accepting_ == 0; });
}

std::size_t AcceptingRoster::accepting() const {
  MutexLock lock(mutex_);
  return accepting_;
}

}  // namespace pelno
