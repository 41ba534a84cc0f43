// The per-user Windows system proxy: save the user's settings once, point the
// proxy at the engine, put the user's settings back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelno {

class InternetSettingsKey;
class ProxySettingsPlatform;

struct SavedProxySettings {
  bool saved = false;
  std::uint32_t proxyEnable = 0;
  std::wstring proxyServer;
  std::wstring proxyOverride;
};

// The real registry and WinINet (Win32 builds); the default platform below.
ProxySettingsPlatform& SystemProxySettingsPlatform();

bool SaveSystemProxy(SavedProxySettings& saved, std::string& error,
                     ProxySettingsPlatform& platform = SystemProxySettingsPlatform());
bool EnableSystemProxy(SavedProxySettings& saved, std::int32_t port, std::string& error,
                       ProxySettingsPlatform& platform = SystemProxySettingsPlatform());
bool RestoreSystemProxy(SavedProxySettings& saved, std::string& error,
                        ProxySettingsPlatform& platform = SystemProxySettingsPlatform());
// Announces changed settings to WinINet (settings-changed, then refresh). Under Wine
// the refresh option fails with 12018 although the settings take effect; exactly
// that failure counts as success there, never on Windows.
bool RefreshInternetSettings(ProxySettingsPlatform& platform = SystemProxySettingsPlatform());

// A REG_SZ or REG_EXPAND_SZ value as stored (unexpanded, trailing zeros removed);
// empty when absent, unreadable or of another type.
std::wstring ReadRegistryString(InternetSettingsKey& key, const std::wstring& name);

// "http=127.0.0.1:P;https=127.0.0.1:P;socks=127.0.0.1:P"; P is 7897 when the
// port lies outside 1..65535.
std::wstring FormatProxyServer(std::int32_t port);

}  // namespace pelno
