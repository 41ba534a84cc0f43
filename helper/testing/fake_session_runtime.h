// The engine runtime in memory for session tests: records every call as a word,
// fails the calls named in `failures` with their error, and notices two calls
// overlapping.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "helper/session_runtime.h"

namespace pelno::testing {

using Calls = std::vector<std::string>;

class FakeRuntime : public SessionRuntime {
 public:
  std::map<std::string, std::string> failures;
  Calls calls, logs;
  bool engineRunning = false;
  std::function<void(std::uint32_t)> exitReport;
  bool slow = false;
  std::atomic<bool> overlapped{false};

  bool RestoreSystemProxy(std::string& error) override { return Call("restore", error); }
  bool EnableSystemProxy(int, std::string& error) override { return Call("enable", error); }
  void StopEngine() override {
    Call("stop", ignored_);
    engineRunning = false;
  }
  bool WriteEngineConfig(std::string_view, std::string& error) override { return Call("write", error); }
  bool StartEngine(std::string& error) override { return engineRunning = Call("start", error); }
  bool IsEngineRunning() override { return engineRunning; }
  void WatchEngine(std::function<void(std::uint32_t)> onExit) override { exitReport = onExit; }
  void AppendLog(std::string_view message) override { logs.emplace_back(message); }
  void Forget() { calls = logs = {}; }

 private:
  std::atomic<int> inside_{0};
  std::string ignored_;
  bool Call(const std::string& name, std::string& error) {
    if (slow) {  // concurrency test: only the overlap matters, not the record
      if (inside_.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      inside_.fetch_sub(1);
      return true;
    }
    calls.push_back(name);
    const auto failure = failures.find(name);
    if (failure == failures.end()) return true;
    error = failure->second;
    return false;
  }
};

}  // namespace pelno::testing
