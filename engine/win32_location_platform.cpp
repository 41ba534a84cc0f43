#include "engine/win32_location_platform.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>

#include "engine/data_locations.h"
#include "base/system_error_text.h"

namespace pelno {
namespace {

struct CoTaskMemDeleter {
  void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};

}  // namespace

bool Win32LocationPlatform::RoamingAppDataFolder(std::wstring& folder) {
  wchar_t* raw = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &raw);
  const std::unique_ptr<wchar_t, CoTaskMemDeleter> owned(raw);
  if (FAILED(result) || raw == nullptr) return false;
  folder = raw;
  return true;
}

std::uint32_t Win32LocationPlatform::ModuleFileName(wchar_t* buffer, std::uint32_t length) {
  return ::GetModuleFileNameW(nullptr, buffer, length);
}

std::uint32_t Win32LocationPlatform::QueryPathStatus(const std::wstring& path) {
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
  const DWORD error = ::GetLastError();
  // A failure without a code must not read as "present".
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

std::uint32_t Win32LocationPlatform::SearchSystemPath(const std::wstring& fileName,
                                                      std::uint32_t length, wchar_t* buffer) {
  return ::SearchPathW(nullptr, fileName.c_str(), nullptr, length, buffer, nullptr);
}

std::string Win32LocationPlatform::ErrorMessage(std::uint32_t code) {
  return SystemErrorText(code);
}

}  // namespace pelno
