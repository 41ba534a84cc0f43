#include "engine/system_proxy.h"

#include <algorithm>
#include <vector>

#include "engine/mixed_inbound_port.h"
#include "engine/proxy_settings_platform.h"

namespace pelno {
namespace {

constexpr std::int32_t kLargestPort = 65535;
const std::wstring kProxyEnable = L"ProxyEnable";
const std::wstring kProxyServer = L"ProxyServer";
const std::wstring kProxyOverride = L"ProxyOverride";
constexpr std::wstring_view kLocalOverride = L"localhost;127.0.0.1;<local>";

constexpr std::string_view kReadKeyFailed = "Failed to read Windows proxy registry key";
constexpr std::string_view kOpenKeyFailed = "Failed to open Windows proxy registry key";
constexpr std::string_view kEnableFailed = "Failed to enable Windows system proxy";
constexpr std::string_view kRestoreFailed = "Failed to restore Windows system proxy";

enum class RestoreStep { kDone, kFailed, kAbort };

// Writes a saved string back, or deletes the value when the saved text is empty
// (absent and empty were not told apart when saving). A delete that fails for
// another reason than "not there" aborts the restore at once.
RestoreStep RestoreString(InternetSettingsKey& key, const std::wstring& name,
                          const std::wstring& text) {
  if (text.empty()) {
    const long result = key.DeleteValue(name);
    if (result == kRegistrySuccess || result == kRegistryValueNotFound) return RestoreStep::kDone;
    return RestoreStep::kAbort;
  }
  return key.SetString(name, text) == kRegistrySuccess ? RestoreStep::kDone : RestoreStep::kFailed;
}

}  // namespace

std::wstring FormatProxyServer(std::int32_t port) {
  if (port < 1 || port > kLargestPort) port = kDefaultProxyPort;
  const std::wstring p = std::to_wstring(port);
  return L"http=127.0.0.1:" + p + L";https=127.0.0.1:" + p + L";socks=127.0.0.1:" + p;
}

std::wstring ReadRegistryString(InternetSettingsKey& key, const std::wstring& name) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (key.QueryValue(name, type, nullptr, size) != kRegistrySuccess) return {};
  if (type != kRegistryTypeString && type != kRegistryTypeExpandString) return {};
  std::vector<wchar_t> text(size / sizeof(wchar_t), L'\0');
  std::uint32_t bytes = static_cast<std::uint32_t>(text.size() * sizeof(wchar_t));
  if (key.QueryValue(name, type, reinterpret_cast<std::uint8_t*>(text.data()), bytes) !=
      kRegistrySuccess) {
    return {};
  }
  // The value may have grown between the two queries; never read past the buffer.
  std::size_t length = std::min<std::size_t>(bytes / sizeof(wchar_t), text.size());
  while (length > 0 && text[length - 1] == L'\0') --length;
  return std::wstring(text.data(), length);
}

bool RefreshInternetSettings(ProxySettingsPlatform& platform) {
  if (platform.SetInternetOption(kInternetOptionSettingsChanged) != 0) return false;
  const std::uint32_t refresh = platform.SetInternetOption(kInternetOptionRefresh);
  if (refresh == 0) return true;
  return refresh == kInternetInvalidOperation && platform.RunningUnderWine();
}

bool SaveSystemProxy(SavedProxySettings& saved, std::string& error,
                     ProxySettingsPlatform& platform) {
  if (saved.saved) return true;
  std::unique_ptr<InternetSettingsKey> key =
      platform.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kQuery);
  if (!key) {
    error = kReadKeyFailed;
    return false;
  }
  std::uint32_t enable = 0;
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(enable);
  if (key->QueryValue(kProxyEnable, type, reinterpret_cast<std::uint8_t*>(&enable), size) !=
      kRegistrySuccess) {
    enable = 0;
  }
  saved.proxyEnable = enable;
  saved.proxyServer = ReadRegistryString(*key, kProxyServer);
  saved.proxyOverride = ReadRegistryString(*key, kProxyOverride);
  key.reset();
  saved.saved = true;
  return true;
}

bool EnableSystemProxy(SavedProxySettings& saved, std::int32_t port, std::string& error,
                       ProxySettingsPlatform& platform) {
  if (!SaveSystemProxy(saved, error, platform)) return false;
  std::unique_ptr<InternetSettingsKey> key =
      platform.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kSet);
  if (!key) {
    error = kOpenKeyFailed;
    return false;
  }
  const bool written = key->SetDword(kProxyEnable, 1) == kRegistrySuccess &&
                       key->SetString(kProxyServer, FormatProxyServer(port)) == kRegistrySuccess &&
                       key->SetString(kProxyOverride, std::wstring(kLocalOverride)) ==
                           kRegistrySuccess;
  key.reset();
  if (written && RefreshInternetSettings(platform)) return true;
  error = kEnableFailed;
  return false;
}

bool RestoreSystemProxy(SavedProxySettings& saved, std::string& error,
                        ProxySettingsPlatform& platform) {
  if (!saved.saved) return true;
  std::unique_ptr<InternetSettingsKey> key =
      platform.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kSet);
  if (!key) {
    error = kOpenKeyFailed;
    return false;
  }
  RestoreStep step = key->SetDword(kProxyEnable, saved.proxyEnable) == kRegistrySuccess
                         ? RestoreStep::kDone
                         : RestoreStep::kFailed;
  if (step == RestoreStep::kDone) step = RestoreString(*key, kProxyServer, saved.proxyServer);
  if (step == RestoreStep::kDone) step = RestoreString(*key, kProxyOverride, saved.proxyOverride);
  if (step == RestoreStep::kAbort) {
    error = kRestoreFailed;
    return false;
  }
  const bool ok = step == RestoreStep::kDone;
  key.reset();
  if (ok && RefreshInternetSettings(platform)) {
    saved.saved = false;
    return true;
  }
  error = kRestoreFailed;
  return false;
}

}  // namespace pelno
