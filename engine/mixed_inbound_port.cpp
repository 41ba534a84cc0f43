#include "engine/mixed_inbound_port.h"

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

namespace pelno {
namespace {

using nlohmann::json;

constexpr std::string_view kMixedTag = "pelno-vpn-mixed";
constexpr std::string_view kMixedTagSpaced = "\"tag\": \"pelno-vpn-mixed\"";
constexpr std::string_view kMixedTagTight = "\"tag\":\"pelno-vpn-mixed\"";
constexpr std::string_view kListenPortKey = "\"listen_port\"";

bool IsJsonSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The digits after the first "listen_port" key at or after `start`, when they
// form a port.
int ScanListenPort(std::string_view configText, std::size_t start) {
  if (configText.size() < kListenPortKey.size() ||
      start > configText.size() - kListenPortKey.size()) {
    return kDefaultProxyPort;
  }
  const std::size_t key = configText.find(kListenPortKey, start);
  if (key == std::string_view::npos) return kDefaultProxyPort;
  const std::size_t afterKey = key + kListenPortKey.size();
  if (afterKey >= configText.size()) return kDefaultProxyPort;
  std::size_t pos = configText.find(':', afterKey);
  if (pos == std::string_view::npos) return kDefaultProxyPort;
  ++pos;
  while (pos < configText.size() && IsJsonSpace(configText[pos])) ++pos;

  constexpr std::int64_t kSaturated = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; pos < configText.size() && configText[pos] >= '0' && configText[pos] <= '9'; ++pos) {
    ++digits;
    if (value < kSaturated) value = value * 10 + (configText[pos] - '0');
    if (value > kSaturated) value = kSaturated;
  }
  if (digits == 0 || !IsPortNumber(value)) return kDefaultProxyPort;
  return static_cast<int>(value);
}

// For texts that are not JSON: the first "listen_port" after the tag written as
// "tag": "pelno-vpn-mixed" (or without the space), else the first in the text.
int ScanForMixedInboundPort(std::string_view configText) {
  std::size_t start = configText.find(kMixedTagSpaced);
  if (start == std::string_view::npos) start = configText.find(kMixedTagTight);
  if (start == std::string_view::npos) start = 0;
  return ScanListenPort(configText, start);
}

// The inbound object tagged kMixedTag in the "inbounds" array, or null.
const json* FindMixedInbound(const json& root) {
  if (!root.is_object()) return nullptr;
  const auto inbounds = root.find("inbounds");
  if (inbounds == root.end() || !inbounds->is_array()) return nullptr;
  for (const json& inbound : *inbounds) {
    if (!inbound.is_object()) continue;
    const auto tag = inbound.find("tag");
    if (tag != inbound.end() && tag->is_string() &&
        tag->get_ref<const std::string&>() == kMixedTag) {
      return &inbound;
    }
  }
  return nullptr;
}

int PortOf(const json& inbound) {
  const auto port = inbound.find("listen_port");
  // The parser keeps integers written without a minus sign as unsigned; negative
  // integers, floats and other types are never a port.
  if (port == inbound.end() || !port->is_number_unsigned()) return kDefaultProxyPort;
  const auto value = port->get<std::uint64_t>();
  return IsPortNumber(value) ? static_cast<int>(value) : kDefaultProxyPort;
}

}  // namespace

int FindMixedInboundPort(std::string_view configText) {
  const json root = json::parse(configText, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded()) return ScanForMixedInboundPort(configText);
  if (const json* inbound = FindMixedInbound(root)) return PortOf(*inbound);
  return ScanListenPort(configText, 0);
}

}  // namespace pelno
