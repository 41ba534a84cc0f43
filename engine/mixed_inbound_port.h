// Finds the local port of the mixed inbound ("pelno-vpn-mixed") by a plain text scan.
#pragma once

#include <string_view>

namespace pelno {

inline constexpr int kDefaultProxyPort = 7897;

// The "listen_port" that follows the mixed inbound's tag; kDefaultProxyPort when
// nothing valid (1..65535) is found.
int FindMixedInboundPort(std::string_view configText);

}  // namespace pelno
