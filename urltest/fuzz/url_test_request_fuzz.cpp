// libFuzzer target: ParseUrlTestRequest on any bytes. Besides crashes and sanitizer
// faults it checks that a parsed request, written back the way the application
// writes it, parses to the same request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "urltest/url_test_request.h"

namespace {

std::string Field(const std::string& value) { return std::to_string(value.size()) + "\n" + value + "\n"; }

bool Same(const pelno::UrlTestRequest& a, const pelno::UrlTestRequest& b) {
  return a.requestId == b.requestId && a.testUrl == b.testUrl && a.nodeTags == b.nodeTags &&
         a.config == b.config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  pelno::UrlTestRequest request;
  if (!pelno::ParseUrlTestRequest(body, request)) return 0;
  std::string written(pelno::kUrlTestMarkerV2);
  written += Field(request.requestId) + Field(request.testUrl);
  written += std::to_string(request.nodeTags.size()) + "\n";
  for (const std::string& tag : request.nodeTags) written += Field(tag);
  written += Field(request.config);
  pelno::UrlTestRequest again;
  if (!pelno::ParseUrlTestRequest(written, again) || !Same(request, again)) std::abort();
  return 0;
}
