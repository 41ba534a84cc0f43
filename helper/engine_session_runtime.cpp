#include "helper/engine_session_runtime.h"

#include "engine/data_locations.h"
#include "engine/engine_config.h"
#include "server/log_journal.h"

namespace pelno {

bool EngineSessionRuntime::RestoreSystemProxy(std::string& error) {
  return pelno::RestoreSystemProxy(proxy_, error, proxySettings_);
}

bool EngineSessionRuntime::EnableSystemProxy(int port, std::string& error) {
  return pelno::EnableSystemProxy(proxy_, port, error, proxySettings_);
}

void EngineSessionRuntime::StopEngine() {
  watch_.Cancel();
  pelno::StopEngine(engine_);
}

bool EngineSessionRuntime::WriteEngineConfig(std::string_view configText, std::string& error) {
  return pelno::WriteEngineConfig(configText, EngineVariant::kHelper, error, locations_);
}

bool EngineSessionRuntime::StartEngine(std::string& error) {
  return StartHelperEngine(engine_, EngineConfigPath(locations_), error, locations_, pipes_);
}

bool EngineSessionRuntime::IsEngineRunning() { return pelno::IsEngineRunning(engine_); }

void EngineSessionRuntime::WatchEngine(std::function<void(std::uint32_t exitCode)> onExit) {
  if (!watch_.Start(engine_.process.Get(), std::move(onExit))) {
    journal_.AppendLog("sing-box.exe cannot be watched; its exit shows at the next request");
  }
}

void EngineSessionRuntime::AppendLog(std::string_view message) { journal_.AppendLog(message); }

}  // namespace pelno
