#include "traffic/shared_snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelno {
namespace {

// Snapshot requests that arrive while one is being built take its result; one that
// comes after it has ended builds anew.
TEST(SharedSnapshotTest, SnapshotsAskedTogetherShareOneBuild) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  std::atomic<int> builds{0}, asking{0};
  SharedSnapshot snapshot([&] {
    const int number = ++builds;
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return release; });
    return "{\"build\":" + std::to_string(number) + "}";
  });
  constexpr int kRequests = 8;
  std::vector<std::string> replies(kRequests);
  std::vector<std::thread> requests;
  for (int i = 0; i < kRequests; ++i) {
    requests.emplace_back([&, i] {
      ++asking;
      replies[i] = snapshot.Get();
    });
  }
  while (asking < kRequests || builds == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last ones reach Get
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  for (std::thread& request : requests) request.join();
  EXPECT_EQ(builds, 1);
  EXPECT_EQ(replies, std::vector<std::string>(kRequests, "{\"build\":1}"));
  EXPECT_EQ(snapshot.Get(), "{\"build\":2}");
}

}  // namespace
}  // namespace pelno
