#include "helper/thread_recycler.h"

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

// One thread serves two jobs in turn; after its idle lifetime it ends and a new one starts.
TEST(ThreadRecyclerTest, FinishedThreadTakesTheNextJobUntilItsLifetimeEnds) {
  CountingStarter starter;
  ThreadRecycler threads(starter.Starter(), 4, 300ms);
  for (int i = 0; i < 2; ++i) {
    std::promise<void> ran;
    threads.Run([&ran] { ran.set_value(); });
    ran.get_future().wait();
    ASSERT_TRUE(WaitForIdle(threads, 1));
  }
  EXPECT_EQ(starter.starts, 1);
  ASSERT_TRUE(WaitForIdle(threads, 0));
  threads.Run([] {});
  EXPECT_EQ(starter.starts, 2);
}

// Five busy jobs get five threads; once done only maxIdle of them stay.
TEST(ThreadRecyclerTest, JobsNeverWaitAndAtMostMaxIdleThreadsStay) {
  CountingStarter starter;
  ThreadRecycler threads(starter.Starter(), 2, 300ms);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> done{0};
  for (int i = 0; i < 5; ++i) {
    threads.Run([released, &done] {
      released.wait();
      ++done;
    });
  }
  EXPECT_EQ(starter.starts, 5);
  release.set_value();
  while (done < 5) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(threads.IdleThreads(), 2u);
}

}  // namespace
}  // namespace pelno
