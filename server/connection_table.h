// The connections the server holds open, oldest first. At the limit a new
// connection takes the place of the oldest one that has not finished sending its
// request, so idle or trickling clients cannot shut everyone else out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>

#include "base/mutex.h"

namespace pelno {

class ConnectionTable {
 public:
  // Ends a connection's reads at once (its blocked read returns). Called with the
  // table locked while the connection still holds its place, so whatever it
  // touches (the socket) is still open.
  using Interrupt = std::function<void()>;

  enum class Admission {
    kAdmitted,         // there was room
    kAdmittedInPlace,  // the oldest connection still sending its request was closed for it
    kRefused,          // every place is held by a connection whose request is being served
  };

  class Place;

  explicit ConnectionTable(std::size_t limit);

  // A place for a new connection, or null when refused; `admission` says which.
  std::unique_ptr<Place> Admit(Interrupt interrupt, Admission& admission);
  // Connections holding a place.
  std::size_t size() const;

  // At a stop: closes every connection still sending its request, which then ends
  // unanswered, and waits at most `bound` for those being answered to leave. True
  // when none is left.
  bool CloseUnfinishedAndWait(std::chrono::milliseconds bound);

 private:
  struct Entry {
    Interrupt interrupt;
    Place* place;
    bool evictable = true;  // still sending its request: may be closed to make room
  };
  // Shared with the places, which may outlive the table.
  struct State {
    Mutex mutex;
    std::list<Entry> entries GUARDED_BY(mutex);  // in the order of admission
    std::condition_variable emptied;             // the last entry has left
    std::size_t limit;
  };
  std::shared_ptr<State> state_;
};

// A connection's place, held for the connection's whole life. Leave it (or destroy
// it) before the connection's socket closes: until then it may be interrupted.
class ConnectionTable::Place {
 public:
  // Made by Admit only (State is the table's own).
  explicit Place(std::shared_ptr<State> state) : state_(std::move(state)) {}
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;
  ~Place() { Leave(); }

  // Leaves the table; the connection can no longer be interrupted. Idempotent.
  void Leave();

  // The whole request has arrived: from now on the connection keeps its place.
  // False when it has already been closed to make room.
  bool KeepPlace();

 private:
  friend class ConnectionTable;

  std::shared_ptr<State> state_;
  std::list<Entry>::iterator entry_;  // guarded by the table's mutex,
  bool inTable_ = false;              // like this
};

}  // namespace pelno
