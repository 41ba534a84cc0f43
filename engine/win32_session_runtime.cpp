#include "engine/win32_session_runtime.h"

#include "engine/data_locations.h"

namespace pelno {

Win32SessionRuntime::Win32SessionRuntime(EngineVariant variant, LocationPlatform& locations,
                                         ProxySettingsPlatform& proxySettings, HANDLE job)
    : locations_(locations), job_(job), variant_(variant), proxySettings_(proxySettings) {
  proxy_.recordName = variant == EngineVariant::kHelper ? kHelperProxyRecordName : kApplicationProxyRecordName;
}

bool Win32SessionRuntime::RestoreSystemProxy(std::string& error) {
  return pelno::RestoreSystemProxy(proxy_, error, proxySettings_);
}

bool Win32SessionRuntime::EnableSystemProxy(int port, std::string& error) {
  return pelno::EnableSystemProxy(proxy_, port, error, proxySettings_);
}

void Win32SessionRuntime::StopEngine() {
  watch_.Cancel();
  pelno::StopEngine(engine_);
}

bool Win32SessionRuntime::WriteEngineConfig(std::string_view configText, std::string& error) {
  return pelno::WriteEngineConfig(configText, variant_, error, locations_);
}

bool Win32SessionRuntime::IsEngineRunning() { return pelno::IsEngineRunning(engine_); }

void Win32SessionRuntime::WatchEngine(std::function<void(std::uint32_t exitCode)> onExit) {
  if (!watch_.Start(engine_.process.Get(), std::move(onExit)))
    AppendLog("sing-box.exe cannot be watched; its exit shows at the next request");
}

}  // namespace pelno
