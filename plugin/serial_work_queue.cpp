#include "plugin/serial_work_queue.h"

#include <utility>

namespace pelno {

void SerialWorkQueue::Post(Job job) {
  std::unique_lock<std::mutex> guard(lock_);
  if (closed_) {
    guard.unlock();
    job.drop();
    return;
  }
  jobs_.push_back(std::move(job));
  if (std::exchange(draining_, true)) return;  // the worker running takes it in turn
  guard.unlock();
  if (!workers_.Start([this] { Drain(); })) Drain();
}

void SerialWorkQueue::Drain() {
  std::shared_ptr<void> owner;  // let go of last, when the queue is no longer touched
  for (;;) {
    Job job;
    {
      std::lock_guard<std::mutex> guard(lock_);
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
    std::unique_lock<std::mutex> guard(lock_);
    closed_ = true;
    dropped.swap(jobs_);
    idle_.wait(guard, [this] { return !draining_; });
  }
  for (Job& job : dropped) job.drop();
}

void SerialWorkQueue::Abandon(std::shared_ptr<void> owner) {
  std::deque<Job> dropped;
  {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    dropped.swap(jobs_);
    if (draining_) owner_ = std::move(owner);
  }
  for (Job& job : dropped) job.drop();
}

}  // namespace pelno
