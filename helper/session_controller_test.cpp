#include "helper/session_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "helper/status_reply.h"

namespace pelno {
namespace {

// Records every runtime call as a word, and fails the calls a test asks it to.
class FakeRuntime : public SessionRuntime {
 public:
  std::vector<std::string> calls;
  std::vector<std::string> logs;
  bool engineRunning = false;
  std::string writeError, startError, enableError, restoreError;
  int enabledPort = 0;
  std::string writtenConfig;

  // Records the call; fails it with `failure` unless that is empty.
  bool Call(const char* name, const std::string& failure, std::string& error) {
    calls.push_back(name);
    if (failure.empty()) return true;
    error = failure;
    return false;
  }

  bool RestoreSystemProxy(std::string& error) override {
    return Call("restore", restoreError, error);
  }
  bool EnableSystemProxy(int port, std::string& error) override {
    enabledPort = port;
    return Call("enable", enableError, error);
  }
  void StopEngine() override {
    calls.push_back("stop");
    engineRunning = false;
  }
  bool WriteEngineConfig(std::string_view config, std::string& error) override {
    writtenConfig = config;
    return Call("write", writeError, error);
  }
  bool StartEngine(std::string& error) override {
    engineRunning = Call("start", startError, error);
    return engineRunning;
  }
  bool IsEngineRunning() override { return engineRunning; }
  void WatchEngine(std::function<void(std::uint32_t)> onExit) override { exitReport = onExit; }
  void AppendLog(std::string_view message) override { logs.emplace_back(message); }

  std::function<void(std::uint32_t)> exitReport;
};

using Calls = std::vector<std::string>;
const std::string kMixedConfig =
    R"({"inbounds":[{"type":"mixed","tag": "pelno-vpn-mixed","listen_port":2080}]})";

std::string Reply(std::string_view status, std::string_view message) {
  return MakeStatusReply(status, message);
}

TEST(SessionStartTest, EmptyConfigurationChangesNothingAndLogsNothing) {
  FakeRuntime runtime;
  runtime.engineRunning = true;
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(""),
            Reply("disconnected", "Empty subscription config or runtime config"));
  EXPECT_EQ(controller.StartTunSession(""),
            Reply("disconnected", "Empty subscription config or runtime config"));
  EXPECT_TRUE(runtime.calls.empty());
  EXPECT_TRUE(runtime.logs.empty());
  EXPECT_TRUE(runtime.engineRunning);
}

// One start with the given runtime failures: the reply, the call order, the log.
struct StartCase {
  const char* name;
  bool tun;
  std::string writeError, startError, enableError, restoreError;
  std::string status, message;
  Calls calls, logs;
};

TEST(SessionStartTest, SequencesAndFailures) {
  const std::string kEnable = "Failed to enable Windows system proxy";
  const std::string kRestore = "Failed to restore Windows system proxy";
  const std::string kEngine = "sing-box.exe exited immediately: bad \"config\"";
  const std::string kWrite = "Failed to write sing-box config";
  const StartCase cases[] = {
      {"proxy start", false, "", "", "", "", "connected", "Windows helper connected",
       {"restore", "stop", "write", "start", "enable"}, {"VPN started through PelnoVpnHelper"}},
      {"tun start leaves the proxy alone", true, "", "", "", "", "connected",
       "Windows TUN helper connected", {"restore", "stop", "write", "start"},
       {"TUN VPN started through PelnoVpnHelperService"}},
      {"write failure is replied, not logged", false, kWrite, "", "", "", "disconnected", kWrite,
       {"restore", "stop", "write"}, {}},
      {"engine failure: no proxy set", false, "", kEngine, "", "", "disconnected", kEngine,
       {"restore", "stop", "write", "start"}, {kEngine}},
      {"enable failure stops the engine and restores", false, "", "", kEnable, "", "disconnected",
       kEnable, {"restore", "stop", "write", "start", "enable", "stop", "restore"}, {kEnable}},
      {"failing clean-up restore replaces the message", false, "", "", kEnable, kRestore,
       "disconnected", kRestore, {"restore", "stop", "write", "start", "enable", "stop", "restore"},
       {kRestore}},
      {"restore failure before a start is not reported", true, "", "", "", kRestore, "connected",
       "Windows TUN helper connected", {"restore", "stop", "write", "start"},
       {"TUN VPN started through PelnoVpnHelperService"}},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRuntime runtime;
    runtime.writeError = c.writeError;
    runtime.startError = c.startError;
    runtime.enableError = c.enableError;
    runtime.restoreError = c.restoreError;
    SessionController controller(runtime);
    std::string reply =
        c.tun ? controller.StartTunSession(kMixedConfig) : controller.StartProxySession(kMixedConfig);
    EXPECT_EQ(reply, Reply(c.status, c.message));
    EXPECT_EQ(runtime.calls, c.calls);
    EXPECT_EQ(runtime.logs, c.logs);
    EXPECT_EQ(runtime.writtenConfig, kMixedConfig);
    EXPECT_EQ(runtime.engineRunning, c.status == "connected");
  }
}

TEST(SessionStartTest, ProxyPointsAtTheMixedPortOrTheDefault) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  controller.StartProxySession(kMixedConfig);
  EXPECT_EQ(runtime.enabledPort, 2080);
  controller.StartProxySession(R"({"inbounds":[]})");
  EXPECT_EQ(runtime.enabledPort, 7897);
}

TEST(SessionStopTest, StopAlwaysRepliesDisconnectedAndLogsEachTime) {
  FakeRuntime runtime;
  runtime.restoreError = "Failed to restore Windows system proxy";
  SessionController controller(runtime);
  const std::string expected = Reply("disconnected", "Windows helper disconnected");
  EXPECT_EQ(controller.StopSession(), expected);
  EXPECT_EQ(controller.StopSession(), expected);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "restore", "stop"}));
  EXPECT_EQ(runtime.logs, (Calls{runtime.restoreError, "VPN stopped through PelnoVpnHelper",
                                  runtime.restoreError, "VPN stopped through PelnoVpnHelper"}));
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
}

TEST(SessionEngineExitTest, ShutDownRefusesLaterStarts) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  controller.ShutDown();
  EXPECT_EQ(controller.StartTunSession(kMixedConfig),
            Reply("disconnected", "PelnoVpnHelper is stopping"));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop"}));
}

TEST(SessionStatusTest, ReflectsWhetherTheEngineRuns) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  EXPECT_EQ(controller.GetSessionStatus(), Reply("disconnected", "Windows helper idle"));
  runtime.engineRunning = true;
  EXPECT_EQ(controller.GetSessionStatus(), Reply("connected", "Windows helper running"));
  EXPECT_TRUE(runtime.calls.empty());
  EXPECT_TRUE(runtime.logs.empty());
}

// A runtime whose start takes a while and that notices overlapping calls.
class SlowRuntime : public FakeRuntime {
 public:
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  void Enter() {
    if (inside.fetch_add(1) != 0) overlapped = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  void Leave() { inside.fetch_sub(1); }
  bool StartEngine(std::string&) override {
    Enter();
    Leave();
    return true;
  }
  void StopEngine() override {
    Enter();
    Leave();
  }
  bool IsEngineRunning() override {
    Enter();
    Leave();
    return false;
  }
  bool RestoreSystemProxy(std::string&) override { return true; }
  bool EnableSystemProxy(int, std::string&) override { return true; }
  bool WriteEngineConfig(std::string_view, std::string&) override { return true; }
  void WatchEngine(std::function<void(std::uint32_t)>) override {}
  void AppendLog(std::string_view) override {}
};

TEST(SessionConcurrencyTest, OperationsFromSeveralThreadsNeverInterleave) {
  SlowRuntime runtime;
  SessionController controller(runtime);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&controller, t] {
      for (int i = 0; i < 10; ++i) {
        switch ((t + i) % 4) {
          case 0: controller.StartProxySession(kMixedConfig); break;
          case 1: controller.StartTunSession(kMixedConfig); break;
          case 2: controller.StopSession(); break;
          default: controller.GetSessionStatus(); break;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(runtime.overlapped);
}

}  // namespace
}  // namespace pelno
