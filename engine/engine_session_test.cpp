#include "engine/engine_session.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/testing/fake_session_runtime.h"

namespace pelno {
namespace {

using testing::Calls;
using testing::FakeSessionRuntime;

// An engine that dies takes the system proxy with it, once; a report that comes
// after an end or a newer start changes nothing.
TEST(EngineSessionTest, AnExitEndsOnlyTheSessionThatIsStillCurrent) {
  FakeSessionRuntime runtime;
  EngineSession engine(runtime);
  std::vector<bool> ended;
  const auto report = [&](std::uint64_t session, std::uint32_t exitCode) {
    ended.push_back(engine.EndAfterExit(session, exitCode));
  };
  std::string error;
  ASSERT_TRUE(engine.Start("{}", 2080, report, error));
  runtime.Forget();
  runtime.exitReport(3);
  runtime.exitReport(3);
  EXPECT_EQ(ended, (std::vector<bool>{true, false}));
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop"}));
  EXPECT_EQ(runtime.logs, (Calls{"sing-box.exe exited unexpectedly (exit code 3); system proxy restored"}));

  engine.Start("{}", 2080, report, error);
  const auto endedExit = runtime.exitReport;
  engine.End(error);
  engine.Start("{}", std::nullopt, report, error);
  const auto replacedExit = runtime.exitReport;
  engine.Start("{}", std::nullopt, report, error);
  runtime.Forget();
  endedExit(1);
  replacedExit(1);
  EXPECT_TRUE(runtime.calls.empty());
  runtime.exitReport(259);
  EXPECT_EQ(runtime.calls, (Calls{"restore", "stop"}));
  EXPECT_EQ(runtime.logs, (Calls{"sing-box.exe exited unexpectedly (exit code 259)"}));
  EXPECT_EQ(ended, (std::vector<bool>{true, false, false, false, true}));
}

}  // namespace
}  // namespace pelno
