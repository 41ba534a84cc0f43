// The helper's session runtime: its engine found next to the program only, its
// output piped and quoted in a failure (StartHelperEngine), its lines in the journal.
#pragma once

#include <string>
#include <string_view>

#include "engine/win32_session_runtime.h"

namespace pelno {

class LogJournal;

class HelperSessionRuntime : public Win32SessionRuntime {
 public:
  // Every part must outlive the runtime.
  HelperSessionRuntime(LogJournal& journal, LocationPlatform& locations,
                       ProxySettingsPlatform& proxySettings, OutputPipeFactory& pipes, HANDLE job)
      : Win32SessionRuntime(EngineVariant::kHelper, locations, proxySettings, job),
        journal_(journal),
        pipes_(pipes) {}

  bool StartEngine(std::string& error) override;
  void AppendLog(std::string_view message) override;

 private:
  LogJournal& journal_;
  OutputPipeFactory& pipes_;
};

}  // namespace pelno
