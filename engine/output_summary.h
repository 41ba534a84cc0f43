// One-line summary of what the engine wrote before it exited.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelno {

// The number of bytes of engine output that a failure message quotes.
inline constexpr std::size_t kEngineOutputSummaryLimit = 900;

// The head of `output` on one line: CR, LF and tab become one space (none at the
// start, none after a space); once the result holds `limit` bytes "..." is added
// and the rest dropped. Empty output gives "<empty>".
std::string SummarizeOutput(std::string_view output, std::size_t limit);

}  // namespace pelno
