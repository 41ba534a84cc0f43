#include "helper/session_controller.h"

#include "engine/mixed_inbound_port.h"
#include "helper/status_reply.h"

namespace pelno {
namespace {

constexpr std::string_view kHelperStoppingMessage = "PelnoVpnHelper is stopping";

}  // namespace

std::string SessionController::StartProxySession(std::string_view configText) {
  return Start(configText, Mode::kProxy);
}

std::string SessionController::StartTunSession(std::string_view configText) {
  return Start(configText, Mode::kTun);
}

std::string SessionController::Start(std::string_view configText, Mode mode) {
  if (configText.empty())
    return MakeStatusReply(kStatusDisconnected, "Empty subscription config or runtime config");

  std::lock_guard<std::mutex> guard(lock_);
  if (shutDown_) return MakeStatusReply(kStatusDisconnected, kHelperStoppingMessage);
  std::string error;
  std::string ignored;
  runtime_.RestoreSystemProxy(ignored);
  runtime_.StopEngine();

  if (!runtime_.WriteEngineConfig(configText, error))
    return MakeStatusReply(kStatusDisconnected, error);

  if (!runtime_.StartEngine(error)) {
    runtime_.AppendLog(error);
    return MakeStatusReply(kStatusDisconnected, error);
  }

  if (mode == Mode::kTun) {
    runtime_.AppendLog("TUN VPN started through PelnoVpnHelperService");
    return MakeStatusReply(kStatusConnected, "Windows TUN helper connected");
  }

  if (!runtime_.EnableSystemProxy(FindMixedInboundPort(configText), error)) {
    runtime_.StopEngine();
    // A failing clean-up restore replaces the enable failure's message.
    runtime_.RestoreSystemProxy(error);
    runtime_.AppendLog(error);
    return MakeStatusReply(kStatusDisconnected, error);
  }
  runtime_.AppendLog("VPN started through PelnoVpnHelper");
  return MakeStatusReply(kStatusConnected, "Windows helper connected");
}

std::string SessionController::StopSession() {
  std::lock_guard<std::mutex> guard(lock_);
  std::string ignored;
  runtime_.RestoreSystemProxy(ignored);
  runtime_.StopEngine();
  runtime_.AppendLog("VPN stopped through PelnoVpnHelper");
  return MakeStatusReply(kStatusDisconnected, "Windows helper disconnected");
}

std::string SessionController::GetSessionStatus() {
  std::lock_guard<std::mutex> guard(lock_);
  if (runtime_.IsEngineRunning())
    return MakeStatusReply(kStatusConnected, "Windows helper running");
  return MakeStatusReply(kStatusDisconnected, "Windows helper idle");
}

void SessionController::ShutDown() {
  std::lock_guard<std::mutex> guard(lock_);
  shutDown_ = true;
  std::string ignored;
  runtime_.RestoreSystemProxy(ignored);
  runtime_.StopEngine();
}

}  // namespace pelno
