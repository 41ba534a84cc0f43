#include "plugin/worker_threads.h"

#include <exception>

namespace pelno {

WorkerThreads::WorkerThreads(Starter starter) : starter_(std::move(starter)) {
  if (!starter_) starter_ = [](std::function<void()> job) { return std::thread(std::move(job)); };
}

bool WorkerThreads::Start(std::function<void()> job) {
  std::list<Worker> finished;
  MutexLock guard(lock_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    const auto next = std::next(it);
    if (it->done->load()) finished.splice(finished.end(), workers_, it);
    it = next;
  }
  for (Worker& worker : finished) worker.thread.join();  // already at their end

  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread = starter_([job = std::move(job), done] {
      job();
      done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), std::move(done)});
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void WorkerThreads::JoinAll() {
  std::list<Worker> all;
  {
    MutexLock guard(lock_);
    all.swap(workers_);
  }
  for (Worker& worker : all) {
    if (worker.thread.joinable()) worker.thread.join();
  }
}

void WorkerThreads::Abandon() {
  std::list<Worker> all;
  {
    MutexLock guard(lock_);
    all.swap(workers_);
  }
  for (Worker& worker : all) {
    if (worker.thread.joinable()) worker.thread.detach();
  }
}

}  // namespace pelno
