#include "server/request_guard.h"

#include "server/http_request.h"

namespace pelno {

namespace {

bool IsLocalhost(std::string_view host) {
  constexpr std::string_view kLocalhost = "localhost";
  if (host.size() != kLocalhost.size()) return false;
  for (std::size_t i = 0; i < host.size(); ++i) {
    const char c = (host[i] >= 'A' && host[i] <= 'Z') ? static_cast<char>(host[i] - 'A' + 'a') : host[i];
    if (c != kLocalhost[i]) return false;
  }
  return true;
}

}  // namespace

bool IsLoopbackHost(std::string_view hostValue) {
  std::string_view host = TrimBlanks(hostValue);
  const std::size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    for (char c : host.substr(colon + 1)) {
      if (c < '0' || c > '9') return false;
    }
    host = host.substr(0, colon);
  }
  return host == "127.0.0.1" || IsLocalhost(host);
}

bool IsRequestAllowed(std::string_view headerBlock) {
  const bool hasOrigin = !ForEachHeaderValue(headerBlock, "Origin", [](std::string_view) { return false; });
  return !hasOrigin && ForEachHeaderValue(headerBlock, "Host", IsLoopbackHost);
}

}  // namespace pelno
