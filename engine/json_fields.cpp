#include "engine/json_fields.h"

#include <limits>
#include <string>

namespace pelno {
namespace {

bool IsJsonFieldSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Longest valid prefix of an optional '-' and decimal digits, saturating; 0 when
// there are no digits after the optional sign.
std::int64_t ParseSignedPrefix(std::string_view run) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::size_t i = 0;
  const bool negative = !run.empty() && run[0] == '-';
  if (negative) ++i;
  // Accumulated on the side of the sign, so INT64_MIN is reached exactly.
  std::int64_t value = 0;
  for (; i < run.size() && IsDigit(run[i]); ++i) {
    const int digit = run[i] - '0';
    if (negative) {
      if (value < (kMin + digit) / 10) return kMin;
      value = value * 10 - digit;
    } else {
      if (value > (kMax - digit) / 10) return kMax;
      value = value * 10 + digit;
    }
  }
  return value;
}

}  // namespace

std::int64_t JsonInt64Field(std::string_view text, std::string_view key) {
  std::string needle;
  needle.reserve(key.size() + 3);
  needle += '"';
  needle += key;
  needle += "\":";
  const std::size_t found = text.find(needle);
  if (found == std::string_view::npos) return 0;
  std::size_t start = found + needle.size();
  while (start < text.size() && IsJsonFieldSpace(text[start])) ++start;
  std::size_t end = start;
  while (end < text.size() && (IsDigit(text[end]) || text[end] == '-')) ++end;
  return ParseSignedPrefix(text.substr(start, end - start));
}

}  // namespace pelno
