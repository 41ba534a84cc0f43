#include "engine/output_summary.h"

namespace pelno {

std::string SummarizeOutput(std::string_view output, std::size_t limit) {
  std::string result;
  for (const char byte : output) {
    if (byte == '\r' || byte == '\n' || byte == '\t') {
      if (!result.empty() && result.back() != ' ') result += ' ';
    } else {
      result += byte;
    }
    if (result.size() >= limit) {
      result += "...";
      break;
    }
  }
  if (result.empty()) return "<empty>";
  return result;
}

}  // namespace pelno
