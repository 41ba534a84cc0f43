// The per-user Windows system proxy: save the user's settings once, point the
// proxy at the engine, put the user's settings back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine_contract.h"
#include "engine/proxy_record.h"

namespace pelno {

class RegistryKey;
class ProxySettingsPlatform;

// The user's settings, captured once before the program changes them. With a
// record name, every enable first writes the durable record of them (see
// proxy_record.h) and a successful restore removes it.
struct SavedProxySettings {
  bool saved = false;
  ProxyValues user;
  std::wstring recordName;
};

// The record names of the two programs.
inline constexpr const wchar_t* kHelperProxyRecordName = kHelperServiceName;  // "PelnoVpnHelperService"
inline constexpr wchar_t kApplicationProxyRecordName[] = L"PelnoVPN";

// Each operation below works on `platform`: the program's Win32ProxySettingsPlatform
// (engine/win32_proxy_settings_platform.h), built once in its entry point, or a fake.
bool SaveSystemProxy(SavedProxySettings& saved, std::string& error,
                     ProxySettingsPlatform& platform);
bool EnableSystemProxy(SavedProxySettings& saved, std::int32_t port, std::string& error,
                       ProxySettingsPlatform& platform);
bool RestoreSystemProxy(SavedProxySettings& saved, std::string& error,
                        ProxySettingsPlatform& platform);
// Announces changed settings to WinINet (settings-changed, then refresh). Under Wine
// the refresh option fails with 12018 although the settings take effect; exactly
// that failure counts as success there, never on Windows.
bool RefreshInternetSettings(ProxySettingsPlatform& platform);

// What a program found of its record at start.
enum class ProxyRecovery {
  kNoRecord,       // the last run ended cleanly
  kRestored,       // the proxy still pointed at the dead engine: the user's settings are back
  kChangedSince,   // someone set other values since: left alone, record removed
  kUnreadable,     // not a whole record, or not text at all: registry left alone, record removed
  kRestoreFailed,  // the user's settings could not be written back: record kept for next time
};

// Run once at start, before anything else touches the proxy.
ProxyRecovery RecoverSystemProxy(const std::wstring& recordName, ProxySettingsPlatform& platform);

// A REG_SZ or REG_EXPAND_SZ value as stored (unexpanded, trailing zeros removed);
// nullopt when absent, unreadable or of another type.
std::optional<std::wstring> ReadRegistryString(RegistryKey& key, const std::wstring& name);

// "http=127.0.0.1:P;https=127.0.0.1:P;socks=127.0.0.1:P"; P is 7897 when the
// port lies outside 1..65535.
std::wstring FormatProxyServer(std::int32_t port);

}  // namespace pelno
