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

  bool RestoreSystemProxy(std::string& error) override {
    calls.push_back("restore");
    if (restoreError.empty()) return true;
    error = restoreError;
    return false;
  }
  bool EnableSystemProxy(int port, std::string& error) override {
    calls.push_back("enable");
    enabledPort = port;
    if (enableError.empty()) return true;
    error = enableError;
    return false;
  }
  void StopEngine() override {
    calls.push_back("stop");
    engineRunning = false;
  }
  bool WriteEngineConfig(std::string_view config, std::string& error) override {
    calls.push_back("write");
    writtenConfig = config;
    if (writeError.empty()) return true;
    error = writeError;
    return false;
  }
  bool StartEngine(std::string& error) override {
    calls.push_back("start");
    if (startError.empty()) {
      engineRunning = true;
      return true;
    }
    error = startError;
    return false;
  }
  bool IsEngineRunning() override { return engineRunning; }
  void AppendLog(std::string_view message) override { logs.emplace_back(message); }
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

TEST(SessionStartTest, ProxyStartRestoresStopsWritesStartsThenPointsProxyAtMixedPort) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(kMixedConfig),
            Reply("connected", "Windows helper connected"));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "write", "start", "enable"}));
  EXPECT_EQ(runtime.enabledPort, 2080);
  EXPECT_EQ(runtime.writtenConfig, kMixedConfig);
  EXPECT_EQ(runtime.logs, (Calls{"VPN started through PelnoVpnHelper"}));
}

TEST(SessionStartTest, ProxyStartWithoutMixedInboundUsesDefaultPort) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  controller.StartProxySession(R"({"inbounds":[]})");
  EXPECT_EQ(runtime.enabledPort, 7897);
}

TEST(SessionStartTest, TunStartLeavesTheProxyAlone) {
  FakeRuntime runtime;
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartTunSession(kMixedConfig),
            Reply("connected", "Windows TUN helper connected"));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "write", "start"}));
  EXPECT_EQ(runtime.logs, (Calls{"TUN VPN started through PelnoVpnHelperService"}));
}

TEST(SessionStartTest, ConfigurationWriteFailureIsRepliedButNotLogged) {
  FakeRuntime runtime;
  runtime.writeError = "Failed to write sing-box config";
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(kMixedConfig),
            Reply("disconnected", "Failed to write sing-box config"));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "write"}));
  EXPECT_TRUE(runtime.logs.empty());
}

TEST(SessionStartTest, EngineFailureIsRepliedAndLoggedAndProxyNotSet) {
  FakeRuntime runtime;
  runtime.startError = "sing-box.exe exited immediately: bad \"config\"";
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(kMixedConfig),
            Reply("disconnected", "sing-box.exe exited immediately: bad \"config\""));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "write", "start"}));
  EXPECT_EQ(runtime.logs, (Calls{"sing-box.exe exited immediately: bad \"config\""}));
}

TEST(SessionStartTest, ProxyEnableFailureStopsEngineAndRestores) {
  FakeRuntime runtime;
  runtime.enableError = "Failed to enable Windows system proxy";
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(kMixedConfig),
            Reply("disconnected", "Failed to enable Windows system proxy"));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "write", "start", "enable", "stop", "restore"}));
  EXPECT_EQ(runtime.logs, (Calls{"Failed to enable Windows system proxy"}));
  EXPECT_FALSE(runtime.engineRunning);
}

TEST(SessionStartTest, FailingCleanUpRestoreReplacesTheEnableMessage) {
  FakeRuntime runtime;
  runtime.enableError = "Failed to enable Windows system proxy";
  runtime.restoreError = "Failed to restore Windows system proxy";
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(kMixedConfig),
            Reply("disconnected", "Failed to restore Windows system proxy"));
  EXPECT_EQ(runtime.logs, (Calls{"Failed to restore Windows system proxy"}));
}

TEST(SessionStartTest, RestoreFailureBeforeAStartIsNotReported) {
  FakeRuntime runtime;
  runtime.restoreError = "Failed to open Windows proxy registry key";
  SessionController controller(runtime);
  EXPECT_EQ(controller.StartTunSession(kMixedConfig),
            Reply("connected", "Windows TUN helper connected"));
}

TEST(SessionStopTest, StopAlwaysRepliesDisconnectedAndLogsEachTime) {
  FakeRuntime runtime;
  runtime.restoreError = "Failed to restore Windows system proxy";
  SessionController controller(runtime);
  const std::string expected = Reply("disconnected", "Windows helper disconnected");
  EXPECT_EQ(controller.StopSession(), expected);
  EXPECT_EQ(controller.StopSession(), expected);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "restore", "stop"}));
  EXPECT_EQ(runtime.logs,
            (Calls{"VPN stopped through PelnoVpnHelper", "VPN stopped through PelnoVpnHelper"}));
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
          default: controller.ShutDown(); controller.GetSessionStatus(); break;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(runtime.overlapped);
}

}  // namespace
}  // namespace pelno
