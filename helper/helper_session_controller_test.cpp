#include "helper/helper_session_controller.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "helper/status_reply.h"
#include "engine/testing/fake_session_runtime.h"

namespace pelno {
namespace {

using testing::Calls;
using testing::FakeSessionRuntime;

const std::string kMixedConfig =
    R"({"inbounds":[{"type":"mixed","tag": "pelno-vpn-mixed","listen_port":2080}]})";
const std::string kRestore = "Failed to restore Windows system proxy";

// One start with the given runtime failures: the reply, the call order, the log.
TEST(SessionStartTest, SequencesAndFailures) {
  const std::string kEnable = "Failed to enable Windows system proxy";
  const std::string kEngine = "sing-box.exe exited immediately: bad \"config\"";
  const std::string kWrite = "Failed to write sing-box config";
  const std::string kOutside = "Configuration refused: log.output must be a relative path inside the data directory";
  const std::string kServiceProxy =
      "The helper service does not set the system proxy; proxy mode runs in the application";
  const Calls kUpToStart = {"restore", "stop", "write", "start"};
  const Calls kEnableUndone = {"restore", "stop", "write", "start", "enable", "stop", "restore"};
  const struct {
    const char* name;
    bool tun;
    std::map<std::string, std::string> failures;
    std::string message;
    Calls calls, logs;
    std::string config = kMixedConfig;
    bool underServiceManager = false;
  } cases[] = {
      {"empty configuration changes nothing", true, {},
       "Empty subscription config or runtime config", {}, {}, ""},
      {"a configuration naming a file outside the data directory changes nothing", true, {}, kOutside, {},
       {kOutside}, R"({"log":{"output":"C:\\x"}})"},
      {"proxy start", false, {}, "Windows helper connected",
       {"restore", "stop", "write", "start", "enable"}, {"VPN started through PelnoVpnHelper"}},
      {"tun start leaves the proxy alone; a failed restore before it is not reported", true,
       {{"restore", kRestore}}, "Windows TUN helper connected", kUpToStart,
       {"TUN VPN started through PelnoVpnHelperService"}},
      {"write failure is replied, not logged", false, {{"write", kWrite}}, kWrite,
       {"restore", "stop", "write"}, {}},
      {"engine failure: no proxy set", false, {{"start", kEngine}}, kEngine, kUpToStart, {kEngine}},
      {"enable failure stops the engine and restores", false, {{"enable", kEnable}}, kEnable,
       kEnableUndone, {kEnable}},
      {"failing clean-up restore replaces the message", false,
       {{"enable", kEnable}, {"restore", kRestore}}, kRestore, kEnableUndone, {kRestore}},
      {"under the service manager a proxy start changes nothing", false, {}, kServiceProxy, {}, {kServiceProxy},
       kMixedConfig, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSessionRuntime runtime;
    runtime.failures = c.failures;
    HelperSessionController controller(runtime);
    if (c.underServiceManager) controller.RunUnderServiceManager();
    const bool connected = c.message.find("connected") != std::string::npos;
    EXPECT_EQ(c.tun ? controller.StartTunSession(c.config) : controller.StartProxySession(c.config),
              MakeStatusReply(connected ? "connected" : "disconnected", c.message));
    EXPECT_EQ(runtime.calls, c.calls);
    EXPECT_EQ(runtime.logs, c.logs);
    EXPECT_EQ(runtime.engineRunning, connected);
  }
}

// A stop always answers the same; a failed restore is logged.
TEST(SessionStopTest, RepliesDisconnectedAndLogsEachTime) {
  FakeSessionRuntime runtime;
  runtime.failures["restore"] = kRestore;
  HelperSessionController controller(runtime);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(controller.StopSession(), MakeStatusReply("disconnected", "Windows helper disconnected"));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "restore", "stop"}));
  const std::string stopped = "VPN stopped through PelnoVpnHelper";
  EXPECT_EQ(runtime.logs, (Calls{kRestore, stopped, kRestore, stopped}));
}

// Once shut down, the helper starts no session.
TEST(SessionShutDownTest, LaterStartsAreRefused) {
  FakeSessionRuntime runtime;
  HelperSessionController controller(runtime);
  controller.StartProxySession(kMixedConfig);
  controller.ShutDown();
  EXPECT_EQ(controller.StartTunSession(kMixedConfig), MakeStatusReply("disconnected", "PelnoVpnHelper is stopping"));
  EXPECT_EQ(runtime.calls.back(), "stop");
}

TEST(SessionConcurrencyTest, OperationsFromSeveralThreadsNeverInterleave) {
  FakeSessionRuntime runtime;
  runtime.slow = true;
  HelperSessionController controller(runtime);
  const std::function<void()> operations[] = {
      [&] { controller.StartProxySession(kMixedConfig); },
      [&] { controller.StartTunSession(kMixedConfig); },
      [&] { controller.StopSession(); },
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] { for (int i = 0; i < 10; ++i) operations[(t + i) % 3](); });
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(runtime.overlapped);
}

// An engine that ends while its start is still under way: the report waits for the
// start, then takes the proxy back.
TEST(SessionConcurrencyTest, AnEngineExitDuringItsStartWaitsForIt) {
  FakeSessionRuntime runtime;
  runtime.exitsWhenWatched = true;
  HelperSessionController controller(runtime);
  EXPECT_EQ(controller.StartProxySession(kMixedConfig), MakeStatusReply("connected", "Windows helper connected"));
  runtime.JoinExitReport();
  EXPECT_FALSE(runtime.overlapped);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop", "write", "start", "enable", "restore", "stop"}));
  EXPECT_EQ(runtime.logs, (Calls{"VPN started through PelnoVpnHelper",
                                 "sing-box.exe exited unexpectedly (exit code 1); system proxy restored"}));
}

}  // namespace
}  // namespace pelno
