// The real registry and WinINet behind the system proxy.
#pragma once

#include <windows.h>

#include <string>

#include "engine/proxy_settings_platform.h"

namespace pelno {

inline constexpr wchar_t kRecordKeyPath[] = L"Software\\PelnoVPN";
inline constexpr wchar_t kInternetSettingsKeyPath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

class Win32ProxySettingsPlatform : public ProxySettingsPlatform {
 public:
  std::unique_ptr<RegistryKey> OpenInternetSettings(KeyAccess access) override;
  std::unique_ptr<RegistryKey> OpenRecordKey(KeyAccess access) override;
  std::uint32_t SetInternetOption(std::uint32_t option) override;
  bool RunningUnderWine() override;
};

}  // namespace pelno
