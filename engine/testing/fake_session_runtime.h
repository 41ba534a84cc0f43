// The engine runtime in memory for session tests: records every call as a word,
// fails the calls named in `failures` with their error, and notices two calls
// overlapping.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/session_runtime.h"

namespace pelno::testing {

using Calls = std::vector<std::string>;

// Ample for a new thread to reach the runtime on a loaded machine (it takes a few
// milliseconds); a controller that serialises the report waits it out in full.
constexpr auto kExitRaceWindow = std::chrono::milliseconds(500);

class FakeSessionRuntime : public SessionRuntime {
 public:
  std::map<std::string, std::string> failures;
  Calls calls, logs;
  std::atomic<bool> engineRunning{false};
  int enabledPort = 0;
  std::function<void(std::uint32_t)> exitReport;
  bool slow = false;
  // The engine ends as soon as it is watched: its report runs on another thread while
  // WatchEngine waits kExitRaceWindow for that report to reach the runtime.
  bool exitsWhenWatched = false;
  std::atomic<bool> overlapped{false};

  bool RestoreSystemProxy(std::string& error) override { return Call("restore", error); }
  bool EnableSystemProxy(int port, std::string& error) override { return enabledPort = port, Call("enable", error); }
  void StopEngine() override {
    Call("stop", ignored_);
    engineRunning = false;
  }
  bool WriteEngineConfig(std::string_view, std::string& error) override { return Call("write", error); }
  bool StartEngine(std::string& error) override { return engineRunning = Call("start", error); }
  bool IsEngineRunning() override { return engineRunning; }
  void WatchEngine(std::function<void(std::uint32_t)> onExit) override {
    const Inside inside(*this);
    exitReport = onExit;
    if (!exitsWhenWatched) return;
    exitThread_ = std::thread([onExit] { onExit(1); });
    const auto deadline = std::chrono::steady_clock::now() + kExitRaceWindow;
    while (!overlapped && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void AppendLog(std::string_view message) override {
    const Inside inside(*this);
    const std::lock_guard<std::mutex> guard(record_);
    logs.emplace_back(message);
  }
  void Forget() { calls = logs = {}; }
  void JoinExitReport() { if (exitThread_.joinable()) exitThread_.join(); }

 private:
  struct Inside {
    explicit Inside(FakeSessionRuntime& runtime) : runtime(runtime) {
      if (runtime.inside_.fetch_add(1) != 0) runtime.overlapped = true;
    }
    ~Inside() { runtime.inside_.fetch_sub(1); }
    FakeSessionRuntime& runtime;
  };
  std::atomic<int> inside_{0};
  std::mutex record_;
  std::thread exitThread_;
  std::string ignored_;
  bool Call(const std::string& name, std::string& error) {
    const Inside inside(*this);
    if (slow) {  // concurrency test: only the overlap matters, not the record
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return true;
    }
    const std::lock_guard<std::mutex> guard(record_);
    calls.push_back(name);
    const auto failure = failures.find(name);
    if (failure == failures.end()) return true;
    error = failure->second;
    return false;
  }
};

}  // namespace pelno::testing
