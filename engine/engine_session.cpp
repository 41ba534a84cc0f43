#include "engine/engine_session.h"

namespace pelno {

bool EngineSession::Start(std::string_view configText, std::optional<int> proxyPort, ExitReport onExit,
                          std::string& error) {
  std::string ignored;
  End(ignored);

  if (!runtime_.WriteEngineConfig(configText, error)) return false;

  if (!runtime_.StartEngine(error)) {
    runtime_.AppendLog(error);
    return false;
  }

  if (proxyPort && !runtime_.EnableSystemProxy(*proxyPort, error)) {
    runtime_.StopEngine();
    // A failing clean-up restore replaces the enable failure's message.
    runtime_.RestoreSystemProxy(error);
    runtime_.AppendLog(error);
    return false;
  }

  const std::uint64_t session = ++session_;
  open_ = true;
  proxySet_ = proxyPort.has_value();
  runtime_.WatchEngine([onExit = std::move(onExit), session](std::uint32_t exitCode) { onExit(session, exitCode); });
  return true;
}

void EngineSession::End(std::string& restoreError) {
  open_ = false;
  runtime_.RestoreSystemProxy(restoreError);
  runtime_.StopEngine();
}

bool EngineSession::EndAfterExit(std::uint64_t session, std::uint32_t exitCode) {
  if (!open_ || session != session_) return false;  // stopped or replaced meanwhile
  std::string restoreError;
  End(restoreError);
  std::string line = "sing-box.exe exited unexpectedly (exit code " + std::to_string(exitCode) + ")";
  if (!restoreError.empty()) {
    line += "; " + restoreError;
  } else if (proxySet_) {
    line += "; system proxy restored";
  }
  runtime_.AppendLog(line);
  return true;
}

}  // namespace pelno
