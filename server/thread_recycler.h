// Runs each job on a thread of its own, reusing threads whose job has ended.
// Starting a thread costs far more than waking one that waits (about 0.65 ms
// under Wine, against a /ping answered in a fraction of that), so finished
// threads wait a while for the next job before they end.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "base/mutex.h"

namespace pelno {

using ThreadJob = std::function<void()>;
// Starts `job` on a new thread that nobody joins; throws std::system_error when no
// thread can be created.
using ThreadStarter = std::function<void(ThreadJob job)>;

class ThreadRecycler {
 public:
  // At most `maxIdle` finished threads wait for work, each for at most `idleLifetime`.
  ThreadRecycler(ThreadStarter start, std::size_t maxIdle, std::chrono::milliseconds idleLifetime);

  // Hands `job` to a waiting thread, or starts a new one for it, so a job never waits
  // behind another. Throws what the starter throws when a new thread is needed.
  void Run(ThreadJob job);

  // Threads now waiting for a job.
  std::size_t IdleThreads() const;

 private:
  // Shared with the threads, which may outlive the recycler.
  struct State {
    Mutex mutex;
    std::condition_variable wake;
    std::deque<ThreadJob> jobs GUARDED_BY(mutex);
    std::size_t idle GUARDED_BY(mutex) = 0;
    std::size_t maxIdle;
    std::chrono::milliseconds idleLifetime;
  };
  static void Work(const std::shared_ptr<State>& state, ThreadJob job);

  ThreadStarter start_;
  std::shared_ptr<State> state_;
};

}  // namespace pelno
