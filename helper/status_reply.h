// The status reply: the one-line JSON object the session endpoints answer with.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

inline constexpr std::string_view kStatusConnected = "connected";
inline constexpr std::string_view kStatusDisconnected = "disconnected";

// {"status":"<status>","platform":"windows","message":"<message>"}, both texts
// escaped with EscapeJsonString.
std::string MakeStatusReply(std::string_view status, std::string_view message);

}  // namespace pelno
