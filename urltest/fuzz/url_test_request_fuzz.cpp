// libFuzzer: ParseUrlTestRequest on any bytes; a parsed request, written back the way
// the application writes it, must parse to the same request.
#include <cstdlib>
#include <string>
#include <tuple>

#include "urltest/url_test_request.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  pelno::UrlTestRequest r, again;
  if (!pelno::ParseUrlTestRequest({reinterpret_cast<const char*>(data), size}, r)) return 0;
  const auto field = [](const std::string& v) { return std::to_string(v.size()) + "\n" + v + "\n"; };
  std::string body = std::string(pelno::kUrlTestMarkerV2) + field(r.requestId) + field(r.testUrl) +
                     std::to_string(r.nodeTags.size()) + "\n";
  for (const std::string& tag : r.nodeTags) body += field(tag);
  if (!pelno::ParseUrlTestRequest(body + field(r.config), again) ||
      std::tie(r.requestId, r.testUrl, r.nodeTags, r.config) !=
          std::tie(again.requestId, again.testUrl, again.nodeTags, again.config))
    std::abort();
  return 0;
}
