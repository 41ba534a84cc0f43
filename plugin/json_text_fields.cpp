#include "plugin/json_text_fields.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/text_encoding.h"

namespace pelno {
namespace {

std::optional<std::uint32_t> HexQuad(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    value <<= 4;
    if (c >= '0' && c <= '9') value |= static_cast<std::uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') value |= static_cast<std::uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') value |= static_cast<std::uint32_t>(c - 'A' + 10);
    else return std::nullopt;
  }
  return value;
}

// Decodes the \u escape whose hex digits start at `at`; returns the index after it.
std::size_t DecodeUnicodeEscape(std::string_view text, std::size_t at, std::string& out) {
  const std::uint32_t unit = *HexQuad(text, at);
  std::size_t next = at + 4;
  constexpr std::uint32_t kReplacement = 0xFFFD;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (next + 6 <= text.size() && text[next] == '\\' && text[next + 1] == 'u') {
      const auto low = HexQuad(text, next + 2);
      if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (*low - 0xDC00));
        return next + 6;
      }
    }
    AppendUtf8(out, kReplacement);
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    AppendUtf8(out, kReplacement);
  } else {
    AppendUtf8(out, unit);
  }
  return next;
}

}  // namespace

std::string JsonStringField(std::string_view text, std::string_view key) {
  const std::string pattern = "\"" + std::string(key) + "\":\"";
  const std::size_t found = text.find(pattern);
  if (found == std::string_view::npos) return {};
  std::string value;
  for (std::size_t i = found + pattern.size(); i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') return value;
    if (c != '\\') {
      value += c;
      continue;
    }
    if (++i >= text.size()) break;
    switch (text[i]) {
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      case 't': value += '\t'; break;
      case 'b': value += '\b'; break;
      case 'f': value += '\f'; break;
      case 'u':
        if (HexQuad(text, i + 1)) {
          i = DecodeUnicodeEscape(text, i + 1, value) - 1;
        } else {
          value += 'u';
        }
        break;
      default: value += text[i]; break;
    }
  }
  return {};
}

std::int32_t JsonIntField(std::string_view text, std::string_view key, std::int32_t fallback) {
  const std::string pattern = "\"" + std::string(key) + "\":";
  std::size_t i = text.find(pattern);
  if (i == std::string_view::npos) return fallback;
  i += pattern.size();
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i >= text.size()) return fallback;
  const bool negative = text[i] == '-';
  if (negative) ++i;
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return negative ? 0 : fallback;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(kLimit, magnitude * 10 + (text[i] - '0'));
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
}

}  // namespace pelno
