#include "helper/session_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "helper/status_reply.h"

namespace pelno {
namespace {

using Calls = std::vector<std::string>;

// Records every runtime call as a word, fails the calls a test asks it to, and
// notices two calls overlapping.
class FakeRuntime : public SessionRuntime {
 public:
  Calls calls, logs;
  bool engineRunning = false;
  std::string writeError, startError, enableError, restoreError;
  int enabledPort = 0;
  std::function<void(std::uint32_t)> exitReport;
  bool slow = false;
  std::atomic<bool> overlapped{false};

  bool RestoreSystemProxy(std::string& error) override { return Call("restore", restoreError, error); }
  bool EnableSystemProxy(int port, std::string& error) override {
    enabledPort = port;
    return Call("enable", enableError, error);
  }
  void StopEngine() override {
    std::string ignored;
    Call("stop", "", ignored);
    engineRunning = false;
  }
  bool WriteEngineConfig(std::string_view, std::string& error) override {
    return Call("write", writeError, error);
  }
  bool StartEngine(std::string& error) override {
    return engineRunning = Call("start", startError, error);
  }
  bool IsEngineRunning() override { return engineRunning; }
  void WatchEngine(std::function<void(std::uint32_t)> onExit) override { exitReport = onExit; }
  void AppendLog(std::string_view message) override { logs.emplace_back(message); }

 private:
  std::atomic<int> inside_{0};
  bool Call(const char* name, const std::string& failure, std::string& error) {
    if (slow) {  // concurrency test: only the overlap matters, not the record
      if (inside_.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      inside_.fetch_sub(1);
      return true;
    }
    calls.push_back(name);
    if (failure.empty()) return true;
    error = failure;
    return false;
  }
};

const std::string kMixedConfig =
    R"({"inbounds":[{"type":"mixed","tag": "pelno-vpn-mixed","listen_port":2080}]})";

std::string Reply(std::string_view status, std::string_view message) {
  return MakeStatusReply(status, message);
}

TEST(SessionStartTest, EmptyConfigurationChangesNothingAndLogsNothing) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartTunSession(""),
            Reply("disconnected", "Empty subscription config or runtime config"));
  EXPECT_TRUE(runtime.calls.empty());
  EXPECT_TRUE(runtime.logs.empty());
}

// One start with the given runtime failures: the reply, the call order, the log.
TEST(SessionStartTest, SequencesAndFailures) {
  const std::string kEnable = "Failed to enable Windows system proxy";
  const std::string kRestore = "Failed to restore Windows system proxy";
  const std::string kEngine = "sing-box.exe exited immediately: bad \"config\"";
  const std::string kWrite = "Failed to write sing-box config";
  const Calls kUpToStart = {"restore", "stop", "write", "start"};
  const Calls kEnableUndone = {"restore", "stop", "write", "start", "enable", "stop", "restore"};
  const struct {
    const char* name;
    bool tun;
    std::string writeError, startError, enableError, restoreError, message;
    Calls calls, logs;
  } cases[] = {
      {"proxy start", false, "", "", "", "", "Windows helper connected",
       {"restore", "stop", "write", "start", "enable"}, {"VPN started through PelnoVpnHelper"}},
      {"tun start leaves the proxy alone; a failed restore before it is not reported", true, "",
       "", "", kRestore, "Windows TUN helper connected", kUpToStart,
       {"TUN VPN started through PelnoVpnHelperService"}},
      {"write failure is replied, not logged", false, kWrite, "", "", "", kWrite,
       {"restore", "stop", "write"}, {}},
      {"engine failure: no proxy set", false, "", kEngine, "", "", kEngine, kUpToStart, {kEngine}},
      {"enable failure stops the engine and restores", false, "", "", kEnable, "", kEnable,
       kEnableUndone, {kEnable}},
      {"failing clean-up restore replaces the message", false, "", "", kEnable, kRestore, kRestore,
       kEnableUndone, {kRestore}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRuntime runtime;
    runtime.writeError = c.writeError;
    runtime.startError = c.startError;
    runtime.enableError = c.enableError;
    runtime.restoreError = c.restoreError;
    SessionController controller(runtime);
    const bool connected = c.message.find("connected") != std::string::npos;
    EXPECT_EQ(c.tun ? controller.StartTunSession(kMixedConfig)
                    : controller.StartProxySession(kMixedConfig),
              Reply(connected ? "connected" : "disconnected", c.message));
    EXPECT_EQ(runtime.calls, c.calls);
    EXPECT_EQ(runtime.logs, c.logs);
    EXPECT_EQ(runtime.engineRunning, connected);
    EXPECT_EQ(runtime.enabledPort, c.tun || !c.startError.empty() || !c.writeError.empty() ? 0 : 2080);
  }
}

// A stop always answers the same; a failed restore is logged.
TEST(SessionStopTest, RepliesDisconnectedAndLogsEachTime) {
  FakeRuntime runtime;
  runtime.restoreError = "Failed to restore Windows system proxy";
  SessionController controller(runtime);
  const std::string expected = Reply("disconnected", "Windows helper disconnected");
  EXPECT_EQ(controller.StopSession(), expected);
  EXPECT_EQ(controller.StopSession(), expected);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "restore", "stop"}));
  EXPECT_EQ(runtime.logs, (Calls{runtime.restoreError, "VPN stopped through PelnoVpnHelper",
                                  runtime.restoreError, "VPN stopped through PelnoVpnHelper"}));
  EXPECT_EQ(controller.GetSessionStatus(), Reply("disconnected", "Windows helper idle"));
  runtime.engineRunning = true;
  EXPECT_EQ(controller.GetSessionStatus(), Reply("connected", "Windows helper running"));
}

// An engine that dies takes the system proxy with it, once; a report that comes
// after a stop or a newer start changes nothing.
TEST(SessionEngineExitTest, RestoresOnlyTheSessionThatIsStillCurrent) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  controller.StartProxySession(kMixedConfig);
  const auto firstExit = runtime.exitReport;
  runtime.calls.clear();
  runtime.logs.clear();
  firstExit(3);
  firstExit(3);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop"}));
  EXPECT_EQ(runtime.logs,
            (Calls{"sing-box.exe exited unexpectedly (exit code 3); system proxy restored"}));

  controller.StartProxySession(kMixedConfig);
  const auto stoppedExit = runtime.exitReport;
  controller.StopSession();
  controller.StartTunSession(kMixedConfig);
  const auto replacedExit = runtime.exitReport;
  controller.StartTunSession(kMixedConfig);
  runtime.calls.clear();
  runtime.logs.clear();
  stoppedExit(1);
  replacedExit(1);
  EXPECT_TRUE(runtime.calls.empty());
  runtime.exitReport(259);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop"}));
  EXPECT_EQ(runtime.logs, (Calls{"sing-box.exe exited unexpectedly (exit code 259)"}));

  controller.ShutDown();  // later starts are refused
  EXPECT_EQ(controller.StartTunSession(kMixedConfig),
            Reply("disconnected", "PelnoVpnHelper is stopping"));
}

TEST(SessionConcurrencyTest, OperationsFromSeveralThreadsNeverInterleave) {
  FakeRuntime runtime;
  runtime.slow = true;
  SessionController controller(runtime);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&controller, t] {
      for (int i = 0; i < 10; ++i) {
        switch ((t + i) % 3) {
          case 0: controller.StartProxySession(kMixedConfig); break;
          case 1: controller.StartTunSession(kMixedConfig); break;
          default: controller.StopSession(); break;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(runtime.overlapped);
}

}  // namespace
}  // namespace pelno
