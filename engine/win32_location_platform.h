// The real platform behind the data locations: known folder, module path,
// file status, search path, system messages.
#pragma once

#include "engine/location_platform.h"

namespace pelno {

class Win32LocationPlatform : public LocationPlatform {
 public:
  bool RoamingAppDataFolder(std::wstring& folder) override;
  std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t length) override;
  std::uint32_t QueryPathStatus(const std::wstring& path) override;
  std::uint32_t SearchSystemPath(const std::wstring& fileName, std::uint32_t length,
                                 wchar_t* buffer) override;
  std::string ErrorMessage(std::uint32_t code) override;
};

}  // namespace pelno
