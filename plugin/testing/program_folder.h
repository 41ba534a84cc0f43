// A throwaway program folder for plug-in tests: the helper program and, when asked,
// the stand-in engine as sing-box.exe, with the location lookups pointed into it.
#pragma once

#include <windows.h>

#include "base/text_encoding.h"
#include "engine/testing/relocated_location_platform.h"
#include "engine/testing/temp_folder.h"

namespace pelno::testing {

struct ProgramFolder {
  explicit ProgramFolder(bool withEngine = false)
      : locations(folder / L"PelnoVPN.exe", folder / L"roaming") {
    ::CopyFileW(Utf8ToWide(PELNO_HELPER_EXE).c_str(), helper().c_str(), FALSE);
    if (withEngine) ::CopyFileW(Utf8ToWide(PELNO_STAND_IN_ENGINE_EXE).c_str(), (folder / L"sing-box.exe").c_str(), FALSE);
  }
  std::wstring helper() const { return folder / L"PelnoVpnHelperService.exe"; }

  TempFolder folder{L"plugin"};
  RelocatedLocationPlatform locations;
};

}  // namespace pelno::testing
