#include "traffic/shared_snapshot.h"

#include <exception>

namespace pelno {

std::string SharedSnapshot::Get() {
  std::promise<std::string> built;
  std::shared_future<std::string> result;
  bool building = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_.valid()) {
      running_ = built.get_future().share();
      building = true;
    }
    result = running_;
  }
  if (building) {
    try {
      built.set_value(build_());
    } catch (...) {
      built.set_exception(std::current_exception());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = {};
  }
  return result.get();
}

}  // namespace pelno
