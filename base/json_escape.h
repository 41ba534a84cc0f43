// Escaping text for a JSON string, for the replies and lines written by hand.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

// Escapes LF and CR as \n and \r, double quote and backslash with a backslash, and
// every other byte below 0x20 as \u00XX (upper-case hex, so tab is \u0009); all
// other bytes, UTF-8 sequences included, are copied as they are.
std::string EscapeJsonString(std::string_view text);

}  // namespace pelno
