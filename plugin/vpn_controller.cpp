#include "plugin/vpn_controller.h"

#include "plugin/helper_client.h"
#include "plugin/status_map.h"

namespace pelno {

using flutter::EncodableMap;
using flutter::EncodableValue;

namespace {

constexpr char kHelperSilentMessage[] = "Windows helper service did not respond";

// The service made ready, then, once `listener` finds the service's process on the
// port (or Wine can't tell), the TUN session started there: true with the reply's
// status map.
bool StartHelperTun(const std::string& config, HelperListenerCheck& listener, EncodableValue& statusMap,
                    std::string& error, const Provisioning& with) {
  if (!EnsureHelperReady(error, with)) return false;
  const ListenerVerdict verdict = listener.Check();
  if (!MaySendConfiguration(verdict, ConfigurationTarget::kTun)) {
    error = verdict == ListenerVerdict::kNoListener ? kHelperSilentMessage : kOtherListenerMessage.data();
    return false;
  }
  if (!StartHelperTunSession(with.helper, config, statusMap)) {
    error = kHelperSilentMessage;
    return false;
  }
  return true;
}

}  // namespace

std::int32_t ProxyPortArgument(const EncodableMap& arguments) {
  const auto found = arguments.find(EncodableValue("proxyPort"));
  if (found == arguments.end()) return kDefaultProxyPort;
  std::int32_t port = 0;
  if (const auto* narrow = std::get_if<std::int32_t>(&found->second)) {
    port = *narrow;
  } else if (const auto* wide = std::get_if<std::int64_t>(&found->second)) {
    port = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(*wide)));
  }
  return IsPortNumber(port) ? port : kDefaultProxyPort;
}

VpnController::VpnController(const PluginEnvironment& environment)
    : environment_(environment),
      listenerCheck_(environment.listener, environment.launchedHelper),
      engine_(environment.engine),
      relay_(std::make_shared<ExitRelay>()) {
  relay_->owner = this;
}

VpnController::~VpnController() {
  {
    MutexLock guard(relay_->lock);
    relay_->owner = nullptr;
  }
  CleanUp();
}

LatencyClient VpnController::LatencyClientFor(const std::atomic<bool>* stop) {
  LaunchedHelper& launched = environment_.launchedHelper;
  HelperListenerCheck& listener = listenerCheck_;
  return LatencyClient{environment_.helper, [&launched] { return launched.EnsureAnswering(); },
                       [&listener] {
                         return MaySendConfiguration(listener.Check(), ConfigurationTarget::kLatencyTest);
                       },
                       stop};
}

EncodableValue VpnController::Connect(const EncodableMap& arguments) {
  const std::string config = StringArgument(arguments, "runtimeConfig");
  if (config.empty()) return MakeStatusMap(kStatusDisconnected, "Empty subscription config or runtime config");
  if (StringArgument(arguments, "accessMode") == "tun") return ConnectTunMode(config);
  return ConnectProxyMode(arguments, config);
}

void VpnController::EndLocalSession(std::string& restoreError) {
  localEngine_ = false;
  engine_.End(restoreError);
}

EncodableValue VpnController::ConnectProxyMode(const EncodableMap& arguments, const std::string& config) {
  EncodableValue ignored;
  StopHelperSession(environment_.helper, ignored);
  const ExecutableSearchResult engine =
      FindEngineExecutable(EngineSearch::kProgramFoldersThenSearchPath, environment_.locations);
  if (!engine.Found())
    return MakeStatusMap(kStatusDisconnected, engine.Failed() ? engine.error : std::string(kEngineNotFoundMessage));

  MutexLock guard(lock_);
  if (cleanedUp_) return MakeStatusMap(kStatusDisconnected, "Windows sing-box disconnected");  // closing
  localEngine_ = false;
  // An engine that dies takes the system proxy with it at once.
  const auto onExit = [relay = relay_](std::uint64_t session, std::uint32_t exitCode) {
    MutexLock guard(relay->lock);
    if (relay->owner != nullptr) relay->owner->OnEngineExited(session, exitCode);
  };
  std::string error;
  if (!engine_.Start(config, ProxyPortArgument(arguments), onExit, error))
    return MakeStatusMap(kStatusDisconnected, error);
  connected_ = true;
  mode_ = Mode::kProxy;
  localEngine_ = true;
  return MakeStatusMap(kStatusConnected, "Windows sing-box connected");
}

void VpnController::OnEngineExited(std::uint64_t session, std::uint32_t exitCode) {
  MutexLock guard(lock_);
  if (!engine_.EndAfterExit(session, exitCode)) return;  // stopped or replaced meanwhile
  localEngine_ = false;
  connected_ = false;
  mode_ = Mode::kNone;
}

EncodableValue VpnController::ConnectTunMode(const std::string& config) {
  // A helper this application started for latency tests runs with the user's rights,
  // where TUN cannot work and the configuration must not go: it goes, a start under
  // way included, and none is started until the TUN start has been answered.
  environment_.launchedHelper.End();
  struct ResumeLaunches {
    LaunchedHelper& launched;
    ~ResumeLaunches() { launched.Resume(); }
  } resume{environment_.launchedHelper};
  MutexLock lock(lock_);
  std::string ignored;
  EndLocalSession(ignored);
  lock.Unlock();  // the clean-up doesn't wait for the service
  EncodableValue reply;
  std::string error;
  const bool started = StartHelperTun(config, listenerCheck_, reply, error,
                                      Provisioning{environment_.provisioning, environment_.locations, environment_.helper});
  lock.Lock();
  if (!started) {
    connected_ = false;
    return MakeStatusMap(kStatusDisconnected, error.empty() ? "Windows helper service failed" : error);
  }
  connected_ = StatusOf(reply) == kStatusConnected;
  mode_ = connected_ ? Mode::kTun : Mode::kNone;
  return reply;
}

EncodableValue VpnController::Disconnect() {
  MutexLock lock(lock_);
  if (mode_ != Mode::kProxy) {
    lock.Unlock();  // the clean-up doesn't wait for the helper
    EncodableValue reply;
    const bool stopped = StopHelperSession(environment_.helper, reply);
    lock.Lock();
    if (stopped) {
      connected_ = false;
      mode_ = Mode::kNone;
      return reply;
    }
  }
  std::string ignored;
  EndLocalSession(ignored);
  connected_ = false;
  mode_ = Mode::kNone;
  return MakeStatusMap(kStatusDisconnected, "Windows sing-box disconnected");
}

std::string VpnController::GetStatus() {
  {
    // The application's own proxy session is told by its engine, not by a helper
    // that may run idle beside it (for latency tests).
    MutexLock guard(lock_);
    if (mode_ == Mode::kProxy && engine_.IsEngineRunning()) return std::string(kStatusConnected);
  }
  std::string status;
  if (QueryHelperStatus(environment_.helper, status)) return status;
  MutexLock guard(lock_);
  return std::string(connected_ && engine_.IsEngineRunning() ? kStatusConnected : kStatusDisconnected);
}

void VpnController::CleanUp() {
  {
    MutexLock guard(lock_);
    if (cleanedUp_) return;
    cleanedUp_ = true;
    std::string restoreError;
    EndLocalSession(restoreError);
  }
  environment_.launchedHelper.Close();
  EncodableValue ignored;
  StopHelperSession(environment_.helper, ignored, kStopAtCloseBound);
}

}  // namespace pelno
