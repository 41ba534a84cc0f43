#include "plugin/serial_work_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace pelno {
namespace {

std::thread NoThread(std::function<void()>) { throw std::system_error(std::make_error_code(std::errc::io_error)); }

// Jobs run one at a time in the order posted: on a worker thread while the poster
// goes on, or, when no thread can be started, on the posting thread before Post
// returns.
TEST(SerialWorkQueueTest, JobsRunOneAtATimeInTheOrderPosted) {
  const struct {
    const char* name;
    WorkerThreads::Starter starter;
    bool onPoster;
  } cases[] = {{"worker threads", {}, false}, {"no thread to be had", NoThread, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WorkerThreads workers(c.starter);
    SerialWorkQueue queue(workers);
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false}, onPoster{false};
    std::promise<void> allRan;
    constexpr int kJobs = 6;
    const std::thread::id poster = std::this_thread::get_id();
    for (int i = 0; i < kJobs; ++i) {
      queue.Post({[&, i] {
                    if (inside++ != 0) overlapped = true;
                    if (std::this_thread::get_id() == poster) onPoster = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    std::lock_guard<std::mutex> lock(mutex);
                    order.push_back(i);
                    --inside;
                    if (i == kJobs - 1) allRan.set_value();
                  },
                  [] { ADD_FAILURE() << "dropped"; }});
      if (c.onPoster) EXPECT_EQ(order.size(), static_cast<std::size_t>(i + 1));
    }
    allRan.get_future().wait();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(onPoster, c.onPoster);
  }
}

// Closing drops the jobs still waiting and waits for the one running; a job posted
// once the queue is closed is dropped at once.
TEST(SerialWorkQueueTest, ClosingDropsTheWaitingJobsAndWaitsForTheRunningOne) {
  WorkerThreads workers;
  SerialWorkQueue queue(workers);
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false, release = false;
  std::vector<std::string> seen;
  const auto note = [&](std::string what) {
    std::lock_guard<std::mutex> lock(mutex);
    seen.push_back(std::move(what));
  };
  queue.Post({[&] {
                std::unique_lock<std::mutex> lock(mutex);
                started = true;
                changed.notify_all();
                changed.wait(lock, [&] { return release; });
                seen.push_back("ran 0");
              },
              [&] { note("dropped 0"); }});
  for (const char* n : {"1", "2"}) queue.Post({[&, n] { note(std::string("ran ") + n); }, [&, n] { note(std::string("dropped ") + n); }});
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return started; });
  }
  std::thread closing([&] { queue.Close(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(seen.empty());  // Close still waits
    release = true;
  }
  changed.notify_all();
  closing.join();
  queue.Post({[&] { note("ran 3"); }, [&] { note("dropped 3"); }});
  EXPECT_EQ(seen, (std::vector<std::string>{"ran 0", "dropped 1", "dropped 2", "dropped 3"}));
}

}  // namespace
}  // namespace pelno
