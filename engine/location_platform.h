// The platform calls behind the data locations, so that the lookups can run
// against a fake. Win32LocationPlatform (engine/win32_location_platform.h) is the
// real one.
#pragma once

#include <cstdint>
#include <string>

namespace pelno {

class LocationPlatform {
 public:
  virtual ~LocationPlatform() = default;

  // The roaming application-data known folder; false when it cannot be had.
  virtual bool RoamingAppDataFolder(std::wstring& folder) = 0;
  // The running program's path into `buffer` (GetModuleFileNameW with a null
  // module): the count of characters written, 0 on failure.
  virtual std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t length) = 0;
  // Status query of a path: 0 when an entry of any kind is there, otherwise the
  // system error code of the failed query.
  virtual std::uint32_t QueryPathStatus(const std::wstring& path) = 0;
  // SearchPathW with the system's search order and no extension: the required
  // length when `length` is too small, the count copied on success, 0 when absent.
  virtual std::uint32_t SearchSystemPath(const std::wstring& fileName, std::uint32_t length,
                                         wchar_t* buffer) = 0;
  // The system's message text for an error code.
  virtual std::string ErrorMessage(std::uint32_t code) = 0;
};

}  // namespace pelno
