// The bytes of requests that all connections together may hold in memory at once
// (the server's are kHeaderMemoryBudget and kRequestMemoryBudget of
// server/http_request.h). Each request holds a share that grows as it needs; a
// share counts the memory its buffer holds (its capacity), not the bytes in it.
#pragma once

#include <cstddef>

#include "base/mutex.h"

namespace pelno {

class RequestMemoryBudget {
 public:
  explicit RequestMemoryBudget(std::size_t capacity) : capacity_(capacity) {}
  RequestMemoryBudget(const RequestMemoryBudget&) = delete;
  RequestMemoryBudget& operator=(const RequestMemoryBudget&) = delete;

  // Takes `bytes` when that many are left; otherwise takes nothing and returns false.
  bool TryTake(std::size_t bytes);
  void Give(std::size_t bytes);
  std::size_t InUse() const;

 private:
  mutable Mutex mutex_;
  const std::size_t capacity_;
  std::size_t inUse_ GUARDED_BY(mutex_) = 0;
};

// One request's share of a budget, given back when destroyed.
class BudgetShare {
 public:
  explicit BudgetShare(RequestMemoryBudget& budget) : budget_(budget) {}
  BudgetShare(const BudgetShare&) = delete;
  BudgetShare& operator=(const BudgetShare&) = delete;
  ~BudgetShare() { budget_.Give(held_); }

  // Makes the share `total` bytes (never smaller than it is). False, and the share
  // unchanged, when the budget cannot cover the growth.
  bool GrowTo(std::size_t total);
  // Gives the whole share back.
  void Clear();
  std::size_t held() const { return held_; }

 private:
  RequestMemoryBudget& budget_;
  std::size_t held_ = 0;
};

}  // namespace pelno
