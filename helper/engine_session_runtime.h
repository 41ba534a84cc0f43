// The engine runtime as the helper's session controller uses it: one engine slot
// and one saved proxy record for the whole program, with the engine runtime's
// real Win32 operations behind them.
#pragma once

#include <string>
#include <string_view>

#include "engine/engine_process.h"
#include "engine/process_exit_watch.h"
#include "engine/system_proxy.h"
#include "helper/session_runtime.h"

namespace pelno {

class LocationPlatform;
class LogJournal;
class ProxySettingsPlatform;

class EngineSessionRuntime : public SessionRuntime {
 public:
  // Every part must outlive the runtime.
  EngineSessionRuntime(LogJournal& journal, LocationPlatform& locations,
                       ProxySettingsPlatform& proxySettings, OutputPipeFactory& pipes)
      : journal_(journal), locations_(locations), proxySettings_(proxySettings), pipes_(pipes) {
    proxy_.recordName = kHelperProxyRecordName;
  }

  bool RestoreSystemProxy(std::string& error) override;
  bool EnableSystemProxy(int port, std::string& error) override;
  void StopEngine() override;
  bool WriteEngineConfig(std::string_view configText, std::string& error) override;
  bool StartEngine(std::string& error) override;
  bool IsEngineRunning() override;
  void WatchEngine(std::function<void(std::uint32_t exitCode)> onExit) override;
  void AppendLog(std::string_view message) override;

 private:
  LogJournal& journal_;
  LocationPlatform& locations_;
  ProxySettingsPlatform& proxySettings_;
  OutputPipeFactory& pipes_;
  EngineProcess engine_;
  ProcessExitWatch watch_;
  SavedProxySettings proxy_;
};

}  // namespace pelno
