#include "helper/helper_session_controller.h"

#include "engine/config_file_check.h"
#include "engine/engine_contract.h"
#include "engine/mixed_inbound_port.h"
#include "helper/status_reply.h"

namespace pelno {
namespace {

constexpr std::string_view kEmptyConfigMessage = "Empty subscription config or runtime config";
constexpr std::string_view kHelperStoppingMessage = "PelnoVpnHelper is stopping";
constexpr std::string_view kServiceProxyMessage =
    "The helper service does not set the system proxy; proxy mode runs in the application";

}  // namespace

std::string HelperSessionController::StartProxySession(std::string_view configText) {
  if (underServiceManager_) {
    runtime_.AppendLog(kServiceProxyMessage);
    return MakeStatusReply(kStatusDisconnected, kServiceProxyMessage);
  }
  return Start(configText, Mode::kProxy);
}

std::string HelperSessionController::StartTunSession(std::string_view configText) {
  return Start(configText, Mode::kTun);
}

std::string HelperSessionController::Start(std::string_view configText, Mode mode) {
  if (configText.empty()) return MakeStatusReply(kStatusDisconnected, kEmptyConfigMessage);
  // The engine runs with the helper's rights: a configuration naming files outside the
  // data directory is refused before anything is stopped, written or started.
  if (const auto refusal = CheckEngineConfiguration(configText)) {
    runtime_.AppendLog(*refusal);
    return MakeStatusReply(kStatusDisconnected, *refusal);
  }

  MutexLock guard(lock_);
  if (shutDown_) return MakeStatusReply(kStatusDisconnected, kHelperStoppingMessage);
  const std::optional<int> proxyPort =
      mode == Mode::kProxy ? std::optional<int>(FindMixedInboundPort(configText)) : std::nullopt;
  const auto onExit = [this](std::uint64_t session, std::uint32_t exitCode) {
    MutexLock guard(lock_);
    engine_.EndAfterExit(session, exitCode);
  };
  std::string error;
  if (!engine_.Start(configText, proxyPort, onExit, error)) return MakeStatusReply(kStatusDisconnected, error);

  if (mode == Mode::kTun) {
    runtime_.AppendLog(std::string("TUN VPN started through ") + kHelperServiceNameText.data());
    return MakeStatusReply(kStatusConnected, "Windows TUN helper connected");
  }
  runtime_.AppendLog(std::string("VPN started through ") + kHelperShortNameText.data());
  return MakeStatusReply(kStatusConnected, "Windows helper connected");
}

std::string HelperSessionController::StopSession() {
  MutexLock guard(lock_);
  std::string restoreError;
  engine_.End(restoreError);
  if (!restoreError.empty()) runtime_.AppendLog(restoreError);
  runtime_.AppendLog("VPN stopped through PelnoVpnHelper");
  return MakeStatusReply(kStatusDisconnected, "Windows helper disconnected");
}

bool HelperSessionController::IsEngineRunning() {
  MutexLock guard(lock_);
  return engine_.IsEngineRunning();
}

std::string HelperSessionController::GetSessionStatus() {
  if (IsEngineRunning())
    return MakeStatusReply(kStatusConnected, "Windows helper running");
  return MakeStatusReply(kStatusDisconnected, "Windows helper idle");
}

void HelperSessionController::ShutDown() {
  MutexLock guard(lock_);
  shutDown_ = true;
  std::string restoreError;
  engine_.End(restoreError);
  if (!restoreError.empty()) runtime_.AppendLog(restoreError);
}

}  // namespace pelno
