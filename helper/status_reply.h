// The status reply: the one-line JSON object the session endpoints answer with.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

inline constexpr std::string_view kStatusConnected = "connected";
inline constexpr std::string_view kStatusDisconnected = "disconnected";

// Escapes LF and CR as \n and \r, double quote and backslash with a backslash, and
// every other byte below 0x20 as \u00XX (upper-case hex, so tab is \u0009); all
// other bytes, UTF-8 sequences included, are copied as they are.
std::string EscapeJsonString(std::string_view text);

// {"status":"<status>","platform":"windows","message":"<message>"}
std::string MakeStatusReply(std::string_view status, std::string_view message);

}  // namespace pelno
