#include "helper/service_status_reporter.h"

namespace pelno {

void ServiceStatusReporter::Report(ServiceState state, std::uint32_t exitCode) {
  MutexLock guard(lock_);
  if (reported_) {
    if (last_.state == ServiceState::kStopped) return;
    const bool starting = state == ServiceState::kStartPending || state == ServiceState::kRunning;
    if (last_.state == ServiceState::kStopPending && starting) return;
  }
  const bool pending = state == ServiceState::kStartPending || state == ServiceState::kStopPending;
  ServiceStatusReport report;
  report.state = state;
  report.controlsAccepted = state == ServiceState::kRunning ? kAcceptStop | kAcceptShutdown : 0;
  report.exitCode = exitCode;
  if (pending) {
    report.checkPoint = reported_ && last_.state == state ? last_.checkPoint + 1 : 1;
    report.waitHintMs = state == ServiceState::kStartPending ? kStartWaitHintMs : kStopWaitHintMs;
  }
  last_ = report;
  reported_ = true;
  sink_.SetStatus(report);
}

}  // namespace pelno
