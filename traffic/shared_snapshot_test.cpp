#include "traffic/shared_snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pelno {
namespace {

// Requests that come while a build runs never take its result: they share the one
// build that follows, its failure included. Nothing is kept for a request that
// comes once every build has ended.
TEST(SharedSnapshotTest, RequestsDuringABuildShareTheNextOne) {
  const struct {
    const char* name;
    bool secondFails;
    std::string shared;
  } cases[] = {
      {"the next build's result", false, "build 2"},
      {"the next build's failure", true, "failed: controller unreachable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    std::atomic<int> builds{0}, asking{0};
    SharedSnapshot snapshot([&] {
      const int number = ++builds;
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return number > 1 || release; });  // the first waits for the test
      if (number == 2 && c.secondFails) throw std::runtime_error("controller unreachable");
      return "build " + std::to_string(number);
    });
    const auto ask = [&snapshot] {
      try {
        return snapshot.Get();
      } catch (const std::exception& error) {
        return "failed: " + std::string(error.what());
      }
    };
    std::string first;
    std::thread firstRequest([&] { first = ask(); });
    while (builds == 0) std::this_thread::yield();
    constexpr int kLater = 8;
    std::vector<std::string> later(kLater);
    std::vector<std::thread> laterRequests;
    for (int i = 0; i < kLater; ++i) {
      laterRequests.emplace_back([&, i] {
        ++asking;
        later[i] = ask();
      });
    }
    while (asking < kLater) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last ones reach Get
    {
      std::lock_guard<std::mutex> lock(mutex);
      release = true;
    }
    changed.notify_all();
    firstRequest.join();
    for (std::thread& request : laterRequests) request.join();
    EXPECT_EQ(first, "build 1");
    EXPECT_EQ(later, std::vector<std::string>(kLater, c.shared));
    EXPECT_EQ(builds, 2);
    EXPECT_EQ(ask(), "build 3");
  }
}

}  // namespace
}  // namespace pelno
