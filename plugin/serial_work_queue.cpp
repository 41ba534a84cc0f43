#include "plugin/serial_work_queue.h"

#include <utility>

namespace pelno {

void SerialWorkQueue::Post(Job job) {
  MutexLock guard(lock_);
  if (closed_) {
    guard.Unlock();
    job.drop();
    return;
  }
  jobs_.push_back(std::move(job));
  if (std::exchange(draining_, true)) return;  // the worker running takes it in turn
  guard.Unlock();
  if (!workers_.Start([this] { Drain(); })) Drain();
}

void SerialWorkQueue::Drain() {
  std::shared_ptr<void> owner;  // let go of last, when the queue is no longer touched
  for (;;) {
    Job job;
    {
      MutexLock guard(lock_);
      if (jobs_.empty()) {
        draining_ = false;
        idle_.notify_all();
        owner = std::move(owner_);
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job.run();
  }
}

void SerialWorkQueue::Close() {
  std::deque<Job> dropped;
  {
    MutexLock guard(lock_);
    closed_ = true;
    dropped.swap(jobs_);
    guard.Wait(idle_, [this]() REQUIRES(lock_) { return !draining_; });
  }
  for (Job& job : dropped) job.drop();
}

void SerialWorkQueue::Abandon(std::shared_ptr<void> owner) {
  std::deque<Job> dropped;
  {
    MutexLock guard(lock_);
    closed_ = true;
    dropped.swap(jobs_);
    if (draining_) owner_ = std::move(owner);
  }
  for (Job& job : dropped) job.drop();
}

}  // namespace pelno
