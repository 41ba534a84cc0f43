// The real location platform with the program's path and the roaming folder moved
// into a test folder: the lookups, status queries and launches stay real.
#pragma once

#include <algorithm>
#include <string>

#include "engine/win32_location_platform.h"

namespace pelno::testing {

class RelocatedLocationPlatform : public Win32LocationPlatform {
 public:
  RelocatedLocationPlatform(std::wstring programPath, std::wstring roamingFolder)
      : programPath_(std::move(programPath)), roamingFolder_(std::move(roamingFolder)) {}

  bool RoamingAppDataFolder(std::wstring& folder) override { return folder = roamingFolder_, true; }
  std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t length) override {
    const std::size_t count = std::min<std::size_t>(programPath_.size(), length - 1);
    *std::copy_n(programPath_.begin(), count, buffer) = L'\0';
    return static_cast<std::uint32_t>(count);
  }

 private:
  std::wstring programPath_, roamingFolder_;
};

}  // namespace pelno::testing
