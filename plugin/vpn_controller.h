// The connection controller behind "connect", "disconnect" and "getStatus": proxy
// mode runs the engine here and points the user's system proxy at it; TUN mode has
// the helper service run it. Cleans up when the plug-in host goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "engine/data_locations.h"
#include "engine/engine_contract.h"
#include "engine/engine_session.h"
#include "flutter/encodable_value.h"
#include "plugin/helper_listener_check.h"
#include "plugin/helper_provisioning.h"
#include "plugin/helper_transport.h"
#include "plugin/latency_client.h"
#include "plugin/launched_helper.h"
#include "plugin/traffic_client.h"

namespace pelno {

// The platforms the plug-in reaches, built once by the program's entry point (or a
// test); each must outlive the plug-in.
struct PluginEnvironment {
  LocationPlatform& locations;
  // The application's own engine and the user's system proxy in proxy mode
  // (ApplicationSessionRuntime in the program).
  SessionRuntime& engine;
  ProvisioningPlatform& provisioning;
  HelperTransport& helper;
  // A helper started here for latency tests (LaunchedHelperSlot in the program).
  LaunchedHelper& launchedHelper;
  // The proxy-mode engine's traffic (Win32LocalTrafficSource in the program).
  LocalTrafficSource& localTraffic;
  // Who listens on the helper's port (Win32HelperListenerPlatform in the program).
  HelperListenerPlatform& listener;
};

// How long the clean-up asks a helper to stop: the application closes whatever the
// helper does.
inline constexpr HelperBound kStopAtCloseBound{1000};

class VpnController {
 public:
  explicit VpnController(const PluginEnvironment& environment);
  VpnController(const VpnController&) = delete;
  VpnController& operator=(const VpnController&) = delete;
  ~VpnController();

  // The plug-in host calls these one at a time, in the order the user interface
  // asked, from a worker thread (they wait on processes, the helper and the service
  // manager), and the clean-up after the last of them.
  flutter::EncodableValue Connect(const flutter::EncodableMap& arguments);
  flutter::EncodableValue Disconnect();
  std::string GetStatus();
  // Restores the user's proxy and stops the engine, ends a helper this application
  // started, then asks the helper to stop its session within kStopAtCloseBound; a
  // call still under way is not waited for (one still to start its engine starts
  // none). Runs once; later calls do nothing.
  void CleanUp();

  // The application's own engine runs in proxy mode (any thread).
  bool LocalEngineCarriesTraffic() const { return localEngine_.load(); }
  LatencyClient LatencyClientFor(const std::atomic<bool>* stop);

 private:
  // Lets the engine's exit watch reach the controller only while it exists.
  struct ExitRelay {
    Mutex lock;
    VpnController* owner GUARDED_BY(lock) = nullptr;
  };

  flutter::EncodableValue ConnectProxyMode(const flutter::EncodableMap& arguments, const std::string& config);
  flutter::EncodableValue ConnectTunMode(const std::string& config);
  // Ends the proxy session (engine and proxy); lock_ held.
  void EndLocalSession(std::string& restoreError) REQUIRES(lock_);
  void OnEngineExited(std::uint64_t session, std::uint32_t exitCode);

  PluginEnvironment environment_;
  HelperListenerCheck listenerCheck_;
  Mutex lock_;  // connection fields below; the engine's exit arrives on another thread
  bool connected_ GUARDED_BY(lock_) = false;
  // Which session Connect last opened: the application's own engine (proxy) or the
  // helper's (TUN); kNone after a disconnect or the engine's exit.
  enum class Mode { kNone, kProxy, kTun };
  Mode mode_ GUARDED_BY(lock_) = Mode::kNone;
  EngineSession engine_ GUARDED_BY(lock_);
  bool cleanedUp_ GUARDED_BY(lock_) = false;
  std::atomic<bool> localEngine_{false};
  std::shared_ptr<ExitRelay> relay_;
};

// "proxyPort" as a 32- or 64-bit integer (the latter cut to its low 32 bits, signed)
// when it lies in 1..65535; otherwise kDefaultProxyPort.
std::int32_t ProxyPortArgument(const flutter::EncodableMap& arguments);

}  // namespace pelno
