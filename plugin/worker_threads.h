// The plug-in's worker threads: each call that must not block the platform thread
// gets one. The plug-in host lets those still running go when it closes: each holds
// what it uses.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

#include "base/mutex.h"

namespace pelno {

class WorkerThreads {
 public:
  // Creates a thread running the job; may throw (std::system_error) like std::thread.
  using Starter = std::function<std::thread(std::function<void()>)>;

  explicit WorkerThreads(Starter starter = {});
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;
  ~WorkerThreads() { JoinAll(); }

  // False when no thread could be created; the job has not run then.
  bool Start(std::function<void()> job);
  // Waits for every thread started so far.
  void JoinAll();
  // Lets every thread started so far run on, unjoined.
  void Abandon();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  Starter starter_;
  Mutex lock_;
  std::list<Worker> workers_ GUARDED_BY(lock_);  // finished ones are joined at the next Start
};

}  // namespace pelno
