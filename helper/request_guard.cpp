#include "helper/request_guard.h"

#include <functional>

namespace pelno {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Calls `visit(value)` for every header line named `name`; stops when it returns false.
// Lines end at LF with an optional CR before it, so a bare LF cannot hide a header;
// blanks around the name are ignored, so " Origin :" counts as Origin too.
bool ForEachHeader(std::string_view headerBlock, std::string_view name,
                   const std::function<bool(std::string_view)>& visit) {
  std::size_t lineStart = headerBlock.find('\n');  // the request line is not a header
  while (lineStart != std::string_view::npos) {
    ++lineStart;
    const std::size_t lineEnd = headerBlock.find('\n', lineStart);
    std::string_view line = headerBlock.substr(lineStart, lineEnd == std::string_view::npos
                                                              ? std::string_view::npos
                                                              : lineEnd - lineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        EqualsIgnoreCase(TrimBlanks(line.substr(0, colon)), name) && !visit(TrimBlanks(line.substr(colon + 1)))) {
      return false;
    }
    lineStart = lineEnd;
  }
  return true;
}

}  // namespace

bool HasHeaderLine(std::string_view headerBlock, std::string_view name) {
  return !ForEachHeader(headerBlock, name, [](std::string_view) { return false; });
}

bool IsLoopbackHost(std::string_view hostValue) {
  std::string_view host = hostValue;
  const std::size_t colon = hostValue.find(':');
  if (colon != std::string_view::npos) {
    host = hostValue.substr(0, colon);
    for (char c : hostValue.substr(colon + 1)) {
      if (c < '0' || c > '9') return false;
    }
  }
  return host == "127.0.0.1" || EqualsIgnoreCase(host, "localhost");
}

bool IsRequestAllowed(std::string_view headerBlock) {
  if (HasHeaderLine(headerBlock, "Origin")) return false;
  return ForEachHeader(headerBlock, "Host", IsLoopbackHost);
}

}  // namespace pelno
