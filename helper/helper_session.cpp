#include "helper/helper_session.h"

#include "engine/data_locations.h"
#include "engine/engine_config.h"
#include "engine/engine_process.h"
#include "engine/system_proxy.h"
#include "helper/log_journal.h"

namespace pelno {
namespace {

// The engine runtime as the helper uses it: one engine slot and one saved proxy
// record for the whole process.
class HelperSessionRuntime : public SessionRuntime {
 public:
  bool RestoreSystemProxy(std::string& error) override {
    return pelno::RestoreSystemProxy(proxy_, error);
  }
  bool EnableSystemProxy(int port, std::string& error) override {
    return pelno::EnableSystemProxy(proxy_, port, error);
  }
  void StopEngine() override { pelno::StopEngine(engine_); }
  bool WriteEngineConfig(std::string_view configText, std::string& error) override {
    return pelno::WriteEngineConfig(configText, EngineVariant::kHelper, error);
  }
  bool StartEngine(std::string& error) override {
    return pelno::StartEngine(engine_, EngineConfigPath(), EngineVariant::kHelper, error);
  }
  bool IsEngineRunning() override { return pelno::IsEngineRunning(engine_); }
  void AppendLog(std::string_view message) override { pelno::AppendLog(message); }

 private:
  EngineProcess engine_;
  SavedProxySettings proxy_;
};

}  // namespace

SessionController& HelperSession() {
  static HelperSessionRuntime runtime;
  static SessionController controller(runtime);
  return controller;
}

std::string StartProxySession(std::string_view configText) {
  return HelperSession().StartProxySession(configText);
}
std::string StartTunSession(std::string_view configText) {
  return HelperSession().StartTunSession(configText);
}
std::string StopSession() { return HelperSession().StopSession(); }
std::string GetSessionStatus() { return HelperSession().GetSessionStatus(); }

}  // namespace pelno
