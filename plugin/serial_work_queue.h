// Work that must run one job at a time, in the order it was posted, and off the
// platform thread: while jobs wait, one worker thread drains them.
#pragma once

#include <deque>
#include <functional>
#include <memory>

#include "base/mutex.h"
#include "plugin/worker_threads.h"

namespace pelno {

class SerialWorkQueue {
 public:
  struct Job {
    std::function<void()> run;
    // Instead of `run`, for a job that the queue's closing leaves unstarted.
    std::function<void()> drop;
  };

  // Drains on threads of `workers`, which must outlive the queue.
  explicit SerialWorkQueue(WorkerThreads& workers) : workers_(workers) {}
  SerialWorkQueue(const SerialWorkQueue&) = delete;
  SerialWorkQueue& operator=(const SerialWorkQueue&) = delete;
  ~SerialWorkQueue() { Close(); }

  // Queues the job behind those waiting. When no worker thread can be started, the
  // queue is drained on the calling thread before this returns; once the queue is
  // closed the job is dropped at once.
  void Post(Job job);
  // Drops the jobs not yet started and waits for the one running, if any.
  void Close();
  // Close without waiting: the job running finishes on its own, and its thread holds
  // `owner` (what holds the queue) until it is done with the queue.
  void Abandon(std::shared_ptr<void> owner);

 private:
  void Drain() EXCLUDES(lock_);

  WorkerThreads& workers_;
  Mutex lock_;
  std::condition_variable idle_;
  std::deque<Job> jobs_ GUARDED_BY(lock_);
  bool draining_ GUARDED_BY(lock_) = false;
  bool closed_ GUARDED_BY(lock_) = false;
  std::shared_ptr<void> owner_ GUARDED_BY(lock_);  // while abandoned with a job running
};

}  // namespace pelno
