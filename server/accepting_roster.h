// Which threads wait in the control server's accept. Several threads block in accept
// on the listener at once, each serving the connection it accepts itself: a client's
// request never waits for another thread to wake, and no readiness signal sits
// between a connection and its accept (under Wine the listener's FD_ACCEPT signal is
// sometimes lost). A thread leaving to serve when it was the last one accepting starts
// a replacement first; one done serving accepts again while fewer than the maximum do.
#pragma once

#include <condition_variable>
#include <cstddef>

#include "base/mutex.h"

namespace pelno {

class AcceptingRoster {
 public:
  explicit AcceptingRoster(std::size_t maxAccepting) : maxAccepting_(maxAccepting) {}
  AcceptingRoster(const AcceptingRoster&) = delete;
  AcceptingRoster& operator=(const AcceptingRoster&) = delete;

  // Holds a place for a thread about to be started to accept; false once stopped.
  bool Reserve();
  // The accepting thread leaves to serve a connection. True when no thread accepts any
  // more: a place is then held for a replacement, which the caller starts (or gives
  // the place back with Leave when it cannot).
  bool LeaveToServe();
  // A thread done serving takes a place again; false (and no place) once stopped or
  // when the maximum already accept.
  bool Rejoin();
  // Gives a place up: a thread that has seen the stop, or one that could not be started.
  void Leave();

  // No place is given after this.
  void Stop();
  // Returns once no place is held; after Stop it stays so.
  void WaitUntilNoneAccepts();

  std::size_t accepting() const;

 private:
  const std::size_t maxAccepting_;
  mutable Mutex mutex_;
  std::condition_variable none_;
  std::size_t accepting_ GUARDED_BY(mutex_) = 0;
  bool stopped_ GUARDED_BY(mutex_) = false;
};

}  // namespace pelno
