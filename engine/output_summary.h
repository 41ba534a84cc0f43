// One-line summary of what the engine wrote before it exited.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelno {

// The number of bytes of engine output that a failure message quotes.
inline constexpr std::size_t kEngineOutputSummaryLimit = 900;

// The head of `output` on one line. Terminal control sequences (ESC '[' ... final
// byte, such as colours) are dropped. CR, LF and tab between other bytes become
// one space (none at the start or the end, none after a space). Once the result
// holds `limit` bytes it is cut back to a whole UTF-8 character, "..." is added
// and the rest dropped. Nothing left gives "<empty>".
std::string SummarizeOutput(std::string_view output, std::size_t limit);

}  // namespace pelno
