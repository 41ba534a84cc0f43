#include "engine/system_proxy.h"

#include <algorithm>
#include <vector>

#include "engine/mixed_inbound_port.h"
#include "engine/proxy_settings_platform.h"

namespace pelno {
namespace {

constexpr std::wstring_view kLocalOverride = L"localhost;127.0.0.1;<local>";

constexpr std::string_view kReadKeyFailed = "Failed to read Windows proxy registry key";
constexpr std::string_view kOpenKeyFailed = "Failed to open Windows proxy registry key";
constexpr std::string_view kEnableFailed = "Failed to enable Windows system proxy";
constexpr std::string_view kRestoreFailed = "Failed to restore Windows system proxy";

constexpr std::string_view kRecordFailed = "Failed to save the Windows proxy settings record";

bool WriteRecord(ProxySettingsPlatform& platform, const std::wstring& name, const std::wstring& text) {
  std::unique_ptr<RegistryKey> key = platform.OpenRecordKey(ProxySettingsPlatform::KeyAccess::kSet);
  return key && key->SetString(name, text) == kRegistrySuccess;
}

void RemoveRecord(ProxySettingsPlatform& platform, const std::wstring& name) {
  // Best effort: a record left over from a restore that succeeded no longer matches
  // the registry at the next start and is removed then without touching anything.
  if (std::unique_ptr<RegistryKey> key =
          platform.OpenRecordKey(ProxySettingsPlatform::KeyAccess::kSet)) {
    key->DeleteValue(name);
  }
}

// Writes `values` to the Internet Settings key, closes it and notifies the system.
// On failure writes kOpenKeyFailed, or `failed` when a write or the notification fails.
bool PutProxyValues(ProxySettingsPlatform& platform, const ProxyValues& values,
                    std::string_view failed, std::string& error) {
  std::unique_ptr<RegistryKey> key = platform.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kSet);
  if (!key) {
    error = kOpenKeyFailed;
    return false;
  }
  const bool written = WriteProxyValues(*key, values);
  key.reset();
  if (written && RefreshInternetSettings(platform)) return true;
  error = failed;
  return false;
}

}  // namespace

std::wstring FormatProxyServer(std::int32_t port) {
  if (!IsPortNumber(port)) port = kDefaultProxyPort;
  const std::wstring p = std::to_wstring(port);
  return L"http=127.0.0.1:" + p + L";https=127.0.0.1:" + p + L";socks=127.0.0.1:" + p;
}

std::optional<std::wstring> ReadRegistryString(RegistryKey& key, const std::wstring& name) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (key.QueryValue(name, type, nullptr, size) != kRegistrySuccess) return std::nullopt;
  if (type != kRegistryTypeString && type != kRegistryTypeExpandString) return std::nullopt;
  std::vector<wchar_t> text(size / sizeof(wchar_t), L'\0');
  std::uint32_t bytes = static_cast<std::uint32_t>(text.size() * sizeof(wchar_t));
  if (key.QueryValue(name, type, reinterpret_cast<std::uint8_t*>(text.data()), bytes) !=
      kRegistrySuccess) {
    return std::nullopt;
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
  std::unique_ptr<RegistryKey> key =
      platform.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kQuery);
  if (!key) {
    error = kReadKeyFailed;
    return false;
  }
  saved.user = ReadProxyValues(*key);
  saved.saved = true;
  return true;
}

bool EnableSystemProxy(SavedProxySettings& saved, std::int32_t port, std::string& error,
                       ProxySettingsPlatform& platform) {
  const bool firstCapture = !saved.saved;
  if (!SaveSystemProxy(saved, error, platform)) return false;
  const ProxyValues ours{1, FormatProxyServer(port), std::wstring(kLocalOverride)};
  // The user's settings are never changed without a record to bring them back.
  if (!saved.recordName.empty() &&
      !WriteRecord(platform, saved.recordName, FormatProxyRecord(saved.user, ours))) {
    if (firstCapture) saved.saved = false;
    error = kRecordFailed;
    return false;
  }
  return PutProxyValues(platform, ours, kEnableFailed, error);
}

bool RestoreSystemProxy(SavedProxySettings& saved, std::string& error,
                        ProxySettingsPlatform& platform) {
  if (!saved.saved) return true;
  if (!PutProxyValues(platform, saved.user, kRestoreFailed, error)) return false;
  saved.saved = false;
  if (!saved.recordName.empty()) RemoveRecord(platform, saved.recordName);
  return true;
}

ProxyRecovery RecoverSystemProxy(const std::wstring& recordName, ProxySettingsPlatform& platform) {
  std::optional<std::wstring> text;
  bool present = false;  // a value of any type under the record's name
  if (std::unique_ptr<RegistryKey> key =
          platform.OpenRecordKey(ProxySettingsPlatform::KeyAccess::kQuery)) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    present = key->QueryValue(recordName, type, nullptr, size) == kRegistrySuccess;
    text = ReadRegistryString(*key, recordName);
  }
  if (!present) return ProxyRecovery::kNoRecord;
  ProxyValues user;
  ProxyValues ours;
  // A value of another type than text is as unreadable as text that is no record.
  if (!text || !ParseProxyRecord(*text, user, ours)) {
    RemoveRecord(platform, recordName);
    return ProxyRecovery::kUnreadable;
  }
  std::unique_ptr<RegistryKey> settings =
      platform.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kQuery);
  if (!settings) return ProxyRecovery::kRestoreFailed;
  const ProxyValues current = ReadProxyValues(*settings);
  settings.reset();
  if (current != ours) {
    RemoveRecord(platform, recordName);
    return ProxyRecovery::kChangedSince;
  }
  std::string ignored;
  if (!PutProxyValues(platform, user, kRestoreFailed, ignored)) return ProxyRecovery::kRestoreFailed;
  RemoveRecord(platform, recordName);
  return ProxyRecovery::kRestored;
}

}  // namespace pelno
