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

bool SaveSystemProxy(SavedProxySettings& saved, std::string& error);
bool EnableSystemProxy(SavedProxySettings& saved, std::int32_t port, std::string& error);
bool RestoreSystemProxy(SavedProxySettings& saved, std::string& error);
// Announces changed settings to WinINet (settings-changed, then refresh).
bool RefreshInternetSettings();

// The same operations over an explicit platform (tests).
bool SaveSystemProxy(ProxySettingsPlatform& platform, SavedProxySettings& saved,
                     std::string& error);
bool EnableSystemProxy(ProxySettingsPlatform& platform, SavedProxySettings& saved,
                       std::int32_t port, std::string& error);
bool RestoreSystemProxy(ProxySettingsPlatform& platform, SavedProxySettings& saved,
                        std::string& error);
// Under Wine the refresh option fails with 12018 although the settings take
// effect; exactly that failure counts as success there, never on Windows.
bool RefreshInternetSettings(ProxySettingsPlatform& platform);

// A REG_SZ or REG_EXPAND_SZ value as stored (unexpanded, trailing zeros removed);
// empty when absent, unreadable or of another type.
std::wstring ReadRegistryString(InternetSettingsKey& key, const std::wstring& name);

// "http=127.0.0.1:P;https=127.0.0.1:P;socks=127.0.0.1:P"; P is 7897 when the
// port lies outside 1..65535.
std::wstring FormatProxyServer(std::int32_t port);

}  // namespace pelno
