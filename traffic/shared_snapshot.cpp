#include "traffic/shared_snapshot.h"

#include <exception>

namespace pelno {

std::string SharedSnapshot::Get() {
  MutexLock lock(mutex_);
  if (next_.valid()) {  // a build that has not started yet: share it
    const std::shared_future<std::string> result = next_;
    lock.Unlock();
    return result.get();
  }
  std::promise<std::string> built;
  if (building_) {  // this call runs the next build, for those that come meanwhile too
    next_ = built.get_future().share();
    lock.Wait(buildEnded_, [this]() REQUIRES(mutex_) { return !building_; });
    next_ = {};
  }
  building_ = true;
  lock.Unlock();

  std::string result;
  std::exception_ptr failure;
  try {
    result = build_();
  } catch (...) {
    failure = std::current_exception();
  }
  lock.Lock();
  building_ = false;
  lock.Unlock();
  buildEnded_.notify_all();
  // The callers sharing this build wait on its future: they are woken with its failure too.
  if (failure) {
    built.set_exception(failure);
    std::rethrow_exception(failure);
  }
  built.set_value(result);
  return result;
}

}  // namespace pelno
