// Single string and 32-bit integer members picked out of the helper's JSON replies
// by plain search, never a full parse (the 64-bit reader is engine/json_fields.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelno {

// The value of the first "\"<key>\":\"" in `text` (no white space allowed in that
// pattern), up to its unescaped closing quote. Escapes are decoded as the helper
// writes them: \n \r \t \b \f, \uXXXX (surrogate pairs joined) as UTF-8, and any
// other escaped byte as itself. A lone surrogate becomes U+FFFD. Absent key or no
// closing quote: empty.
std::string JsonStringField(std::string_view text, std::string_view key);

// The number after the first "\"<key>\":", white space skipped: an optional '-' and
// the digits after it, saturated at the 32-bit limits; a lone '-' gives 0. Absent
// key or no number: `fallback`.
std::int32_t JsonIntField(std::string_view text, std::string_view key, std::int32_t fallback);

}  // namespace pelno
