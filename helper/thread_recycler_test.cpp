#include "helper/thread_recycler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <system_error>
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
  for (int i = 0; i < 500; ++i) {
    if (threads.IdleThreads() == count) return true;
    std::this_thread::sleep_for(2ms);
  }
  return false;
}

TEST(ThreadRecyclerTest, FinishedThreadTakesTheNextJob) {
  CountingStarter starter;
  ThreadRecycler threads(starter.Starter(), 4, 1s);
  std::promise<std::thread::id> first, second;
  threads.Run([&first] { first.set_value(std::this_thread::get_id()); });
  const std::thread::id firstId = first.get_future().get();
  ASSERT_TRUE(WaitForIdle(threads, 1));
  threads.Run([&second] { second.set_value(std::this_thread::get_id()); });
  EXPECT_EQ(second.get_future().get(), firstId);
  EXPECT_EQ(starter.starts, 1);
}

TEST(ThreadRecyclerTest, JobNeverWaitsBehindABusyThread) {
  CountingStarter starter;
  ThreadRecycler threads(starter.Starter(), 4, 0ms);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> secondRan;
  threads.Run([released] { released.wait(); });
  threads.Run([&secondRan] { secondRan.set_value(); });
  EXPECT_EQ(secondRan.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(starter.starts, 2);
  release.set_value();
}

TEST(ThreadRecyclerTest, IdleThreadsEndAfterTheirLifetimeAndAreReplaced) {
  CountingStarter starter;
  ThreadRecycler threads(starter.Starter(), 4, 50ms);
  std::promise<void> ran;
  threads.Run([&ran] { ran.set_value(); });
  ran.get_future().wait();
  ASSERT_TRUE(WaitForIdle(threads, 1));
  ASSERT_TRUE(WaitForIdle(threads, 0));  // lifetime over: the thread has ended
  std::promise<void> again;
  threads.Run([&again] { again.set_value(); });
  EXPECT_EQ(again.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(starter.starts, 2);
}

TEST(ThreadRecyclerTest, AtMostMaxIdleThreadsWait) {
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

TEST(ThreadRecyclerTest, FailedStartThrowsAndLeavesNoJobBehind) {
  bool failNext = true;
  CountingStarter real;
  ThreadStarter realStart = real.Starter();
  ThreadRecycler threads(
      [&failNext, &realStart](ThreadJob job) {
        if (failNext) {
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        realStart(std::move(job));
      },
      2, 0ms);
  bool lostRan = false;
  EXPECT_THROW(threads.Run([&lostRan] { lostRan = true; }), std::system_error);
  failNext = false;
  std::promise<void> ran;
  threads.Run([&ran] { ran.set_value(); });
  EXPECT_EQ(ran.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(lostRan);
}

}  // namespace
}  // namespace pelno
