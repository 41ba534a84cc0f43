// The facts the helper service and the application share: the helper's service
// name, what users may do with it, its control port, the words and content types of its replies, and the
// port the engine's mixed inbound listens on when a configuration names none.
// Header-only, without Windows headers, so that every library can include it.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelno {

inline constexpr wchar_t kHelperServiceName[] = L"PelnoVpnHelperService";

// What the service's DACL gives Authenticated Users, so that the unelevated
// application can read the service's configuration and status and start it:
// SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START. Not SERVICE_STOP: the
// application never stops the service, and no user may end another's TUN session.
inline constexpr std::uint32_t kServiceUserAccess = 0x0001 | 0x0004 | 0x0010;

// The helper's control API listens on 127.0.0.1 at this port.
inline constexpr std::uint16_t kControlPort = 17891;

// The "status" of the session endpoints' replies and of the plug-in's status maps.
inline constexpr std::string_view kStatusConnected = "connected";
inline constexpr std::string_view kStatusDisconnected = "disconnected";

// The content type of the latency test's stream of result lines.
inline constexpr std::string_view kNdjsonContentType = "application/x-ndjson";

inline constexpr int kDefaultProxyPort = 7897;

}  // namespace pelno
