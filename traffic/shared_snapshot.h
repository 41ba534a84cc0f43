// One traffic snapshot build shared by the requests that arrive while it runs. A
// build costs two controller exchanges and four socket-table reads; callers that
// come meanwhile wait for it and take its result instead of paying for their own.
// Nothing is kept: a caller that comes after a build has ended starts a new one.
#pragma once

#include <functional>
#include <future>
#include <mutex>
#include <string>

namespace pelno {

class SharedSnapshot {
 public:
  explicit SharedSnapshot(std::function<std::string()> build) : build_(std::move(build)) {}
  SharedSnapshot(const SharedSnapshot&) = delete;
  SharedSnapshot& operator=(const SharedSnapshot&) = delete;

  // The result of the build running now, or of a new one started by this call.
  std::string Get();

 private:
  std::function<std::string()> build_;
  std::mutex mutex_;
  std::shared_future<std::string> running_;  // valid while a build runs
};

}  // namespace pelno
