// The session runtime over the real Win32 operations: one engine slot with its exit
// watch and one saved proxy record. A program's runtime adds how its engine starts
// and where its lines go: the application's in plugin/, the helper's in helper/.
#pragma once

#include <string>
#include <string_view>

#include "engine/engine_config.h"
#include "engine/engine_process.h"
#include "engine/process_exit_watch.h"
#include "engine/session_runtime.h"
#include "engine/system_proxy.h"

namespace pelno {

class ProxySettingsPlatform;

class Win32SessionRuntime : public SessionRuntime {
 public:
  // `variant` names the program (its proxy record and its wording); both platforms
  // and `job`, the program's engine job (null: none), must outlive the runtime.
  Win32SessionRuntime(EngineVariant variant, LocationPlatform& locations, ProxySettingsPlatform& proxySettings,
                      HANDLE job);

  bool RestoreSystemProxy(std::string& error) override;
  bool EnableSystemProxy(int port, std::string& error) override;
  void StopEngine() override;
  bool WriteEngineConfig(std::string_view configText, std::string& error) override;
  bool IsEngineRunning() override;
  void WatchEngine(std::function<void(std::uint32_t exitCode)> onExit) override;

 protected:
  LocationPlatform& locations_;
  const HANDLE job_;
  EngineProcess engine_;

 private:
  const EngineVariant variant_;
  ProxySettingsPlatform& proxySettings_;
  ProcessExitWatch watch_;
  SavedProxySettings proxy_;
};

}  // namespace pelno
