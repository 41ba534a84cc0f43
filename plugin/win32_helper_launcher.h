// The real start of the helper program: found next to the application, started
// hidden without arguments in the application's folder, in the kill-on-close job, so
// that it ends with the application however that ends.
#pragma once

#include <windows.h>

#include "engine/location_platform.h"
#include "plugin/helper_launcher.h"

namespace pelno {

class Win32HelperLauncher : public HelperLauncher {
 public:
  // `job` is the application's kill-on-close job (CreateEngineJob); `locations` and the job
  // must outlive the launcher.
  Win32HelperLauncher(LocationPlatform& locations, HANDLE job) : locations_(locations), job_(job) {}

  std::unique_ptr<HelperProcess> Launch() override;
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

 private:
  LocationPlatform& locations_;
  HANDLE job_;
};

}  // namespace pelno
