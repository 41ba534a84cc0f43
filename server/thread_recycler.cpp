#include "server/thread_recycler.h"

#include <utility>

namespace pelno {

ThreadRecycler::ThreadRecycler(ThreadStarter start, std::size_t maxIdle,
                               std::chrono::milliseconds idleLifetime)
    : start_(std::move(start)), state_(std::make_shared<State>()) {
  state_->maxIdle = maxIdle;
  state_->idleLifetime = idleLifetime;
}

void ThreadRecycler::Run(ThreadJob job) {
  {
    MutexLock lock(state_->mutex);
    // Every queued job needs a waiting thread of its own.
    if (state_->idle > state_->jobs.size()) {
      state_->jobs.push_back(std::move(job));
      state_->wake.notify_one();
      return;
    }
  }
  start_([state = state_, job = std::move(job)]() mutable { Work(state, std::move(job)); });
}

std::size_t ThreadRecycler::IdleThreads() const {
  MutexLock lock(state_->mutex);
  return state_->idle;
}

void ThreadRecycler::Work(const std::shared_ptr<State>& state, ThreadJob job) {
  for (;;) {
    job();
    job = nullptr;  // release what the job captured before waiting
    MutexLock lock(state->mutex);
    if (state->idle >= state->maxIdle) return;
    ++state->idle;
    const bool woken = lock.WaitFor(state->wake, state->idleLifetime,
                                    [&state]() REQUIRES(state->mutex) { return !state->jobs.empty(); });
    --state->idle;
    if (!woken) return;
    job = std::move(state->jobs.front());
    state->jobs.pop_front();
  }
}

}  // namespace pelno
