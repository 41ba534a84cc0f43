#include "server/request_memory_budget.h"

namespace pelno {

bool RequestMemoryBudget::TryTake(std::size_t bytes) {
  MutexLock lock(mutex_);
  if (bytes > capacity_ - inUse_) return false;
  inUse_ += bytes;
  return true;
}

void RequestMemoryBudget::Give(std::size_t bytes) {
  MutexLock lock(mutex_);
  inUse_ -= bytes;
}

std::size_t RequestMemoryBudget::InUse() const {
  MutexLock lock(mutex_);
  return inUse_;
}

bool BudgetShare::GrowTo(std::size_t total) {
  if (total <= held_) return true;
  if (!budget_.TryTake(total - held_)) return false;
  held_ = total;
  return true;
}

void BudgetShare::Clear() {
  budget_.Give(held_);
  held_ = 0;
}

}  // namespace pelno
