// One traffic snapshot build shared by the requests that arrive together. A build
// costs two controller exchanges and four socket-table reads; callers that come
// while a build runs share the one build that follows it. They never take the
// running build's result: it may have read the tables before they asked.
// Nothing is kept: a caller that comes when no build runs or waits starts a new one.
#pragma once

#include <functional>
#include <future>
#include <string>

#include "base/mutex.h"

namespace pelno {

class SharedSnapshot {
 public:
  explicit SharedSnapshot(std::function<std::string()> build) : build_(std::move(build)) {}
  SharedSnapshot(const SharedSnapshot&) = delete;
  SharedSnapshot& operator=(const SharedSnapshot&) = delete;

  // The result of a build that starts after this call, run by this call or shared
  // with others; a build's exception reaches every caller sharing it.
  std::string Get();

 private:
  std::function<std::string()> build_;
  Mutex mutex_;
  std::condition_variable buildEnded_;
  bool building_ GUARDED_BY(mutex_) = false;
  // The result of the build that waits for the running one to end; valid until it starts.
  std::shared_future<std::string> next_ GUARDED_BY(mutex_);
};

}  // namespace pelno
