#include "engine/output_summary.h"

namespace pelno {
namespace {

constexpr char kEscape = '\x1b';

bool IsFolded(char byte) { return byte == '\r' || byte == '\n' || byte == '\t'; }

// Past a control sequence that starts at `pos` (ESC '['): parameter and
// intermediate bytes (0x20-0x3F), then the final byte (0x40-0x7E). A sequence
// broken off by any other byte ends before that byte.
std::size_t SkipControlSequence(std::string_view text, std::size_t pos) {
  pos += 2;
  while (pos < text.size() && text[pos] >= 0x20 && text[pos] <= 0x3F) ++pos;
  if (pos < text.size() && text[pos] >= 0x40 && text[pos] <= 0x7E) ++pos;
  return pos;
}

// Drops a multi-byte UTF-8 character at the end that lacks some of its bytes.
void DropIncompleteCharacter(std::string& text) {
  std::size_t continuation = 0;
  std::size_t lead = text.size();
  while (lead > 0 && continuation < 3 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++continuation;
  }
  if (lead == 0) return;
  const auto byte = static_cast<unsigned char>(text[lead - 1]);
  const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
  if (length > continuation + 1) text.resize(lead - 1);
}

}  // namespace

std::string SummarizeOutput(std::string_view output, std::size_t limit) {
  std::string result;
  // A line end waits for the next kept byte, so trailing line ends leave no space.
  bool spacePending = false;
  auto append = [&](char byte) {
    result += byte;
    if (result.size() < limit) return false;
    DropIncompleteCharacter(result);
    result += "...";
    return true;
  };
  for (std::size_t pos = 0; pos < output.size();) {
    const char byte = output[pos];
    if (byte == kEscape && pos + 1 < output.size() && output[pos + 1] == '[') {
      pos = SkipControlSequence(output, pos);
      continue;
    }
    ++pos;
    if (IsFolded(byte)) {
      if (!result.empty() && result.back() != ' ') spacePending = true;
      continue;
    }
    if (spacePending) {
      spacePending = false;
      if (append(' ')) return result;
    }
    if (append(byte)) return result;
  }
  if (result.empty()) return "<empty>";
  return result;
}

}  // namespace pelno
