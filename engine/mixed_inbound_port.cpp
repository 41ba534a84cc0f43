#include "engine/mixed_inbound_port.h"

#include <cstdint>
#include <limits>

namespace pelno {
namespace {

constexpr std::string_view kMixedTagSpaced = "\"tag\": \"pelno-vpn-mixed\"";
constexpr std::string_view kMixedTagTight = "\"tag\":\"pelno-vpn-mixed\"";
constexpr std::string_view kListenPortKey = "\"listen_port\"";
constexpr int kLargestPort = 65535;

bool IsJsonSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int FindMixedInboundPort(std::string_view configText) {
  std::size_t start = configText.find(kMixedTagSpaced);
  if (start == std::string_view::npos) start = configText.find(kMixedTagTight);
  if (start == std::string_view::npos) start = 0;

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
  if (digits == 0 || value < 1 || value > kLargestPort) return kDefaultProxyPort;
  return static_cast<int>(value);
}

}  // namespace pelno
