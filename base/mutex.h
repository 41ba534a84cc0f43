// std::mutex with Clang's lock annotations (base/thread_annotations.h), which
// libstdc++'s own lacks, and its scoped lock. Waits on a std::condition_variable
// go through the lock; a predicate that reads guarded members says so with
// REQUIRES(mutex): [this]() REQUIRES(mutex_) { return done_; }.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/thread_annotations.h"

namespace pelno {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds the mutex from construction to destruction, except while waiting and
// between Unlock and Lock.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }

  // std::condition_variable's waits, with the mutex held again on return.
  template <typename Predicate>
  void Wait(std::condition_variable& condition, Predicate done) {
    condition.wait(lock_, done);
  }
  template <typename Rep, typename Period, typename Predicate>
  bool WaitFor(std::condition_variable& condition, std::chrono::duration<Rep, Period> bound,
               Predicate done) {
    return condition.wait_for(lock_, bound, done);
  }
  template <typename Clock, typename Duration, typename Predicate>
  bool WaitUntil(std::condition_variable& condition, std::chrono::time_point<Clock, Duration> until,
                 Predicate done) {
    return condition.wait_until(lock_, until, done);
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace pelno
