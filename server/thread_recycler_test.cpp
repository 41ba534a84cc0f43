#include "server/thread_recycler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace pelno {
namespace {

using namespace std::chrono_literals;

// Starts real threads and joins them when the test ends; counts the starts.
class CountingStarter {
 public:
  ~CountingStarter() {
    for (std::thread& t : threads_) t.join();
  }
  ThreadStarter Starter() {
    return [this](ThreadJob job) {
      ++starts;
      threads_.emplace_back(std::move(job));
    };
  }
  std::atomic<int> starts{0};

 private:
  std::vector<std::thread> threads_;
};

bool WaitForIdle(const ThreadRecycler& threads, std::size_t count) {
  for (int i = 0; i < 500 && threads.IdleThreads() != count; ++i) std::this_thread::sleep_for(2ms);
  return threads.IdleThreads() == count;
}

// Three busy jobs get three threads; once done only maxIdle of them stay, take the
// next job without a new start, and end after their idle lifetime.
TEST(ThreadRecyclerTest, JobsNeverWaitAndAtMostMaxIdleThreadsStayForTheirLifetime) {
  CountingStarter starter;
  ThreadRecycler threads(starter.Starter(), 2, 300ms);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  for (int i = 0; i < 3; ++i) threads.Run([released] { released.wait(); });
  EXPECT_EQ(starter.starts, 3);
  release.set_value();
  ASSERT_TRUE(WaitForIdle(threads, 2));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(threads.IdleThreads(), 2u);

  std::promise<void> ran;
  threads.Run([&ran] { ran.set_value(); });
  ran.get_future().wait();
  EXPECT_EQ(starter.starts, 3);
  ASSERT_TRUE(WaitForIdle(threads, 0));
  threads.Run([] {});
  EXPECT_EQ(starter.starts, 4);
}

}  // namespace
}  // namespace pelno
