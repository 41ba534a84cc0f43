#include "urltest/url_test_request.h"

#include <limits>

namespace pelno {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the count line at `position`: decimal text up to the next line feed.
bool ReadCountLine(std::string_view body, std::size_t& position, std::uint32_t& count) {
  const std::size_t end = body.find('\n', position);
  if (end == std::string_view::npos) return false;
  count = ReadUnsigned32(body.substr(position, end - position));
  position = end + 1;
  return true;
}

}  // namespace

std::uint32_t ReadUnsigned32(std::string_view text) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > kMax) return static_cast<std::uint32_t>(kMax);  // overflow wins over the sign
  }
  const auto result = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

bool ReadLengthPrefixedField(std::string_view body, std::size_t& position, std::string& value) {
  if (position >= body.size()) return false;
  const std::size_t lineEnd = body.find('\n', position);
  if (lineEnd == std::string_view::npos) return false;
  const std::uint64_t length = ReadUnsigned32(body.substr(position, lineEnd - position));
  const std::uint64_t start = lineEnd + 1;
  if (start + length > body.size()) return false;
  value.assign(body.substr(start, length));
  position = start + length;
  if (position < body.size() && body[position] == '\n') ++position;
  return true;
}

bool ParseUrlTestRequest(std::string_view body, UrlTestRequest& request) {
  if (body.size() < kUrlTestMarkerV2.size()) return false;
  const bool version2 = body.starts_with(kUrlTestMarkerV2);
  if (!version2 && !body.starts_with(kUrlTestMarkerV1)) return false;
  UrlTestRequest parsed;
  std::size_t position = kUrlTestMarkerV2.size();
  if (version2 && !ReadLengthPrefixedField(body, position, parsed.requestId)) return false;
  if (!ReadLengthPrefixedField(body, position, parsed.testUrl)) return false;
  std::uint32_t count = 0;
  if (!ReadCountLine(body, position, count)) return false;
  // Every field takes at least one byte, so a huge count fails at the body's end.
  std::string tag;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!ReadLengthPrefixedField(body, position, tag)) return false;
    if (!tag.empty()) parsed.nodeTags.push_back(std::move(tag));
    tag.clear();
  }
  if (!ReadLengthPrefixedField(body, position, parsed.config)) return false;
  request = std::move(parsed);
  return true;
}

}  // namespace pelno
