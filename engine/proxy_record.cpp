#include "engine/proxy_record.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/text_encoding.h"
#include "engine/proxy_settings_platform.h"
#include "engine/system_proxy.h"

namespace pelno {
namespace {

using Json = nlohmann::json;

constexpr int kRecordVersion = 1;
const std::wstring kProxyEnable = L"ProxyEnable";
const std::wstring kProxyServer = L"ProxyServer";
const std::wstring kProxyOverride = L"ProxyOverride";
constexpr std::uint32_t kRegistryTypeDword = 4;

Json ToJson(const std::optional<std::wstring>& text) {
  return text ? Json(WideToUtf8(*text)) : Json(nullptr);
}

Json ToJson(const ProxyValues& values) {
  return {{"ProxyEnable", values.proxyEnable ? Json(*values.proxyEnable) : Json(nullptr)},
          {"ProxyServer", ToJson(values.proxyServer)},
          {"ProxyOverride", ToJson(values.proxyOverride)}};
}

bool FromJson(const Json& json, const char* name, std::optional<std::wstring>& text) {
  const auto it = json.find(name);
  if (it == json.end() || !(it->is_null() || it->is_string())) return false;
  if (it->is_string()) text = Utf8ToWide(it->get<std::string>());
  return true;
}

bool FromJson(const Json& json, ProxyValues& values) {
  if (!json.is_object()) return false;
  const auto enable = json.find("ProxyEnable");
  if (enable == json.end()) return false;
  if (enable->is_number_unsigned() && enable->get<std::uint64_t>() <= UINT32_MAX) {
    values.proxyEnable = enable->get<std::uint32_t>();
  } else if (!enable->is_null()) {
    return false;
  }
  return FromJson(json, "ProxyServer", values.proxyServer) &&
         FromJson(json, "ProxyOverride", values.proxyOverride);
}

std::optional<std::uint32_t> ReadDword(RegistryKey& key, const std::wstring& name) {
  std::uint32_t value = 0;
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(value);
  if (key.QueryValue(name, type, reinterpret_cast<std::uint8_t*>(&value), size) !=
          kRegistrySuccess ||
      type != kRegistryTypeDword || size != sizeof(value)) {
    return std::nullopt;
  }
  return value;
}

// Absent values are deleted; one already gone counts as deleted.
bool Delete(RegistryKey& key, const std::wstring& name) {
  const long result = key.DeleteValue(name);
  return result == kRegistrySuccess || result == kRegistryValueNotFound;
}

bool WriteString(RegistryKey& key, const std::wstring& name, const std::optional<std::wstring>& text) {
  return text ? key.SetString(name, *text) == kRegistrySuccess : Delete(key, name);
}

}  // namespace

std::wstring FormatProxyRecord(const ProxyValues& user, const ProxyValues& ours) {
  const Json record = {{"version", kRecordVersion}, {"user", ToJson(user)}, {"ours", ToJson(ours)}};
  return Utf8ToWide(record.dump());
}

bool ParseProxyRecord(std::wstring_view text, ProxyValues& user, ProxyValues& ours) {
  const Json record = Json::parse(WideToUtf8(text), nullptr, false);
  if (record.is_discarded() || !record.is_object()) return false;
  const auto version = record.find("version");
  if (version == record.end() || !version->is_number_integer() ||
      version->get<std::int64_t>() != kRecordVersion || !record.contains("user") ||
      !record.contains("ours")) {
    return false;
  }
  ProxyValues parsedUser;
  ProxyValues parsedOurs;
  if (!FromJson(record["user"], parsedUser) || !FromJson(record["ours"], parsedOurs)) return false;
  user = std::move(parsedUser);
  ours = std::move(parsedOurs);
  return true;
}

ProxyValues ReadProxyValues(RegistryKey& key) {
  return {ReadDword(key, kProxyEnable), ReadRegistryString(key, kProxyServer),
          ReadRegistryString(key, kProxyOverride)};
}

bool WriteProxyValues(RegistryKey& key, const ProxyValues& values) {
  const bool enable = values.proxyEnable
                          ? key.SetDword(kProxyEnable, *values.proxyEnable) == kRegistrySuccess
                          : Delete(key, kProxyEnable);
  return enable && WriteString(key, kProxyServer, values.proxyServer) &&
         WriteString(key, kProxyOverride, values.proxyOverride);
}

}  // namespace pelno
