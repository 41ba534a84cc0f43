// The application's session runtime: its engine found on the search path too
// (StartApplicationEngine); the application keeps no log.
#pragma once

#include <string>
#include <string_view>

#include "engine/win32_session_runtime.h"

namespace pelno {

class ApplicationSessionRuntime : public Win32SessionRuntime {
 public:
  ApplicationSessionRuntime(LocationPlatform& locations, ProxySettingsPlatform& proxySettings, HANDLE job)
      : Win32SessionRuntime(EngineVariant::kApplication, locations, proxySettings, job) {}

  bool StartEngine(std::string& error) override;
  void AppendLog(std::string_view) override {}
};

}  // namespace pelno
