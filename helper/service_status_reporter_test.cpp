#include "helper/service_status_reporter.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelno {
namespace {

using State = ServiceState;
using Reports = std::vector<ServiceStatusReport>;

struct RecordingSink : ServiceStatusSink {
  void SetStatus(const ServiceStatusReport& report) override { reports.push_back(report); }
  Reports reports;
};

// Each row reports its states in order (the last with exit code 7); the sink sees
// what the service manager would be told.
TEST(ServiceStatusReporterTest, TellsTheServiceManagerOnlyWhatMovesForward) {
  const ServiceStatusReport startPending1{State::kStartPending, 0, 0, 1, kStartWaitHintMs};
  const ServiceStatusReport running{State::kRunning, kAcceptStop | kAcceptShutdown, 0, 0, 0};
  const ServiceStatusReport stopPending1{State::kStopPending, 0, 0, 1, kStopWaitHintMs};
  const ServiceStatusReport stopped{State::kStopped, 0, 7, 0, 0};
  const struct {
    const char* name;
    std::vector<State> states;
    Reports reports;
  } cases[] = {
      {"a whole run: each pending state again advances its check point",
       {State::kStartPending, State::kStartPending, State::kRunning, State::kStopPending, State::kStopPending,
        State::kStopped},
       {startPending1, {State::kStartPending, 0, 0, 2, kStartWaitHintMs}, running, stopPending1,
        {State::kStopPending, 0, 0, 2, kStopWaitHintMs}, stopped}},
      {"a stop during the start is not undone by the start's report",
       {State::kStartPending, State::kStopPending, State::kRunning, State::kStartPending, State::kStopped},
       {startPending1, stopPending1, stopped}},
      {"nothing after the stop", {State::kStopped, State::kStopPending, State::kRunning, State::kStopped},
       {{State::kStopped, 0, 0, 0, 0}}},
      {"a set-up failure stops at once", {State::kStartPending, State::kStopped}, {startPending1, stopped}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    ServiceStatusReporter reporter(sink);
    for (std::size_t i = 0; i < c.states.size(); ++i) reporter.Report(c.states[i], i + 1 == c.states.size() ? 7 : 0);
    EXPECT_EQ(sink.reports, c.reports);
  }
}

}  // namespace
}  // namespace pelno
