// The body of POST /urltest: a marker line, length-prefixed fields and a count
// line, with no escaping of any kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelno {

inline constexpr std::string_view kUrlTestMarkerV2 = "PELNOVPN_URLTEST_V2\n";
inline constexpr std::string_view kUrlTestMarkerV1 = "PELNOVPN_URLTEST_V1\n";

struct UrlTestRequest {
  std::string requestId;  // empty for version 1: such a run cannot be canceled
  std::string testUrl;
  std::vector<std::string> nodeTags;  // in the order sent, empty tags dropped
  std::string config;                 // the engine configuration, byte for byte
};

// Decimal text to 32 bits the way strtoul reads it: leading white space skipped,
// one optional sign, stops at the first non-digit, no digits gives 0, too large
// gives 4294967295, a minus sign negates modulo 2^32 ("-1" is 4294967295).
std::uint32_t ReadUnsigned32(std::string_view text);

// Reads "<length>\n<value>" at `position`, then skips one line feed right after
// the value if there is one. On failure `position` and `value` are unspecified.
bool ReadLengthPrefixedField(std::string_view body, std::size_t& position, std::string& value);

// The whole body; false when it is not of either version or a field runs past its
// end. Anything after the config field is ignored.
bool ParseUrlTestRequest(std::string_view body, UrlTestRequest& request);

}  // namespace pelno
