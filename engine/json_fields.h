// Single integer members picked out of JSON text by plain search, never a full parse.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelno {

// Finds the first "\"<key>\":" in `text` (no space allowed before the colon), skips
// white space after it and converts the run of digits and '-' that follows, reading
// its longest valid prefix ("-12" is -12, "12-3" is 12, "--5" is 0). Out-of-range
// values saturate at the 64-bit limits. Absent key or no number: 0.
std::int64_t JsonInt64Field(std::string_view text, std::string_view key);

}  // namespace pelno
