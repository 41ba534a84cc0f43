// The registry and WinINet calls behind the system proxy, so that its logic can
// run against a fake. Win32ProxySettingsPlatform (engine/win32_proxy_settings_platform.h)
// is the real one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pelno {

// Result codes as the registry calls return them.
inline constexpr long kRegistrySuccess = 0;
inline constexpr long kRegistryValueNotFound = 2;
inline constexpr std::uint32_t kRegistryTypeString = 1;        // REG_SZ
inline constexpr std::uint32_t kRegistryTypeExpandString = 2;  // REG_EXPAND_SZ

// WinINet options that announce changed proxy settings.
inline constexpr std::uint32_t kInternetOptionSettingsChanged = 39;
inline constexpr std::uint32_t kInternetOptionRefresh = 37;
// ERROR_INTERNET_INVALID_OPERATION.
inline constexpr std::uint32_t kInternetInvalidOperation = 12018;

// An opened registry key (the Internet Settings key, or the record key). Closed
// when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegQueryValueExW: `data` may be null to learn type and size (in bytes).
  virtual long QueryValue(const std::wstring& name, std::uint32_t& type, std::uint8_t* data,
                          std::uint32_t& size) = 0;
  virtual long SetDword(const std::wstring& name, std::uint32_t value) = 0;
  // REG_SZ of (characters + 1) * 2 bytes, the terminating zero included.
  virtual long SetString(const std::wstring& name, const std::wstring& text) = 0;
  virtual long DeleteValue(const std::wstring& name) = 0;
};

class ProxySettingsPlatform {
 public:
  enum class KeyAccess { kQuery, kSet };
  virtual ~ProxySettingsPlatform() = default;
  // Null when the key cannot be opened with that access.
  virtual std::unique_ptr<RegistryKey> OpenInternetSettings(KeyAccess access) = 0;
  // HKCU\Software\PelnoVPN, where the programs keep the record of the user's
  // settings; kSet creates it when missing. Null when it cannot be opened.
  virtual std::unique_ptr<RegistryKey> OpenRecordKey(KeyAccess access) = 0;
  // InternetSetOptionW(NULL, option, NULL, 0): 0 on success, else the error code.
  virtual std::uint32_t SetInternetOption(std::uint32_t option) = 0;
  // Whether the program runs under Wine, whose WinINet refuses the refresh option.
  virtual bool RunningUnderWine() = 0;
};

}  // namespace pelno
