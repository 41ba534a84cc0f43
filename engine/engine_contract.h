// The facts the helper service and the application share: the helper's service
// name, what users may do with it, its control port, the words and content types of its replies, and the
// port the engine's mixed inbound listens on when a configuration names none.
// Header-only, without Windows headers, so that every library can include it.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/constant_text.h"

namespace pelno {

// The helper program's service name, as messages spell it and as the service
// manager takes it; the program's file is named after it, an older build's file
// after the program's short name.
inline constexpr auto kHelperShortNameText = constant_text::Of("PelnoVpnHelper");
inline constexpr auto kHelperServiceNameText = constant_text::Join(kHelperShortNameText, "Service");
inline constexpr auto kHelperFileNameText = constant_text::Join(kHelperServiceNameText, ".exe");
inline constexpr auto kHelperServiceNameWide = constant_text::Widen(kHelperServiceNameText);
inline constexpr auto kHelperFileNameWide = constant_text::Widen(kHelperFileNameText);
inline constexpr auto kHelperShortFileNameWide =
    constant_text::Widen(constant_text::Join(kHelperShortNameText, ".exe"));
inline constexpr const wchar_t* kHelperServiceName = kHelperServiceNameWide.data();
inline constexpr const wchar_t* kHelperFileName = kHelperFileNameWide.data();
inline constexpr const wchar_t* kHelperShortFileName = kHelperShortFileNameWide.data();

// What the service's DACL gives Authenticated Users, so that the unelevated
// application can read the service's configuration and status and start it:
// SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START. Not SERVICE_STOP: the
// application never stops the service, and no user may end another's TUN session.
inline constexpr std::uint32_t kServiceUserAccess = 0x0001 | 0x0004 | 0x0010;

// The helper's control API listens on 127.0.0.1 at this port.
inline constexpr std::uint16_t kControlPort = 17891;
// "127.0.0.1:17891", as messages name the control port.
inline constexpr auto kControlAddressText = constant_text::Join("127.0.0.1:", constant_text::Decimal<kControlPort>());

// The "status" of the session endpoints' replies and of the plug-in's status maps.
inline constexpr std::string_view kStatusConnected = "connected";
inline constexpr std::string_view kStatusDisconnected = "disconnected";

// The content type of the latency test's stream of result lines.
inline constexpr std::string_view kNdjsonContentType = "application/x-ndjson";

inline constexpr int kDefaultProxyPort = 7897;

// Whether `value` is a TCP port number (1 to 65535), for any integer type.
template <typename Integer>
constexpr bool IsPortNumber(Integer value) {
  return value >= 1 && value <= 65535;
}

}  // namespace pelno
