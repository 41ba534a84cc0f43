#include "traffic/socket_collector.h"

#include <array>

#include "base/json_escape.h"

namespace pelno {
namespace {

// Unspecified and standard loopback addresses, compared exactly: other loopback
// addresses and mapped forms are kept.
constexpr std::array<std::string_view, 4> kDroppedAddresses = {"0.0.0.0", "::", "127.0.0.1", "::1"};

constexpr std::uint16_t kHttpsPort = 443;
constexpr std::uint16_t kHttpPort = 80;

std::string_view MethodFor(std::string_view protocol, std::uint16_t port) {
  if (port == kHttpsPort) return "HTTPS";
  if (port == kHttpPort) return "HTTP";
  return protocol;
}

}  // namespace

void OfferSocketRow(SocketCollector& collector, std::uint32_t pid, std::string_view protocol,
                    std::string_view address, std::uint16_t port) {
  if (collector.entryCount_ >= kMaxSocketEntries || address.empty()) return;
  for (std::string_view dropped : kDroppedAddresses) {
    if (address == dropped) return;
  }
  std::string endpoint(address);
  endpoint += ':';
  endpoint += std::to_string(port);
  std::string key = std::to_string(pid);
  key += '|';
  key += protocol;
  key += '|';
  key += endpoint;
  if (!collector.seen_.insert(std::move(key)).second) return;

  std::string& out = collector.entries_;
  if (collector.entryCount_ != 0) out += ',';
  out += "{\"processName\":\"";
  out += EscapeJsonString(collector.namer_(pid));
  out += "\",\"policy\":\"Proxy\",\"totalBytes\":0,\"uploadBytesPerSecond\":0,"
         "\"downloadBytesPerSecond\":0,\"durationSeconds\":0,\"status\":\"Active\",\"method\":\"";
  out += MethodFor(protocol, port);
  out += "\",\"host\":\"";
  out += EscapeJsonString(endpoint);
  out += "\"}";
  ++collector.entryCount_;
}

}  // namespace pelno
