#include "traffic/shared_snapshot.h"

#include <exception>

namespace pelno {

std::string SharedSnapshot::Get() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (next_.valid()) {  // a build that has not started yet: share it
    const std::shared_future<std::string> result = next_;
    lock.unlock();
    return result.get();
  }
  std::promise<std::string> built;
  if (building_) {  // this call runs the next build, for those that come meanwhile too
    next_ = built.get_future().share();
    buildEnded_.wait(lock, [this] { return !building_; });
    next_ = {};
  }
  building_ = true;
  lock.unlock();

  std::string result;
  std::exception_ptr failure;
  try {
    result = build_();
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  building_ = false;
  lock.unlock();
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
