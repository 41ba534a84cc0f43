// The latency test's wire texts: the request body sent to the helper's "/urltest"
// and the reader of its result stream, one JSON line per node.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pelno {

// "PELNOVPN_URLTEST_V2\n", then each text as its byte length, "\n", the bytes, "\n"
// (requestId, testUrl, the tag count and each tag), then the configuration's length,
// "\n" and its bytes with nothing after them.
std::string BuildUrlTestBody(std::string_view requestId, std::string_view testUrl,
                             const std::vector<std::string>& tags, std::string_view config);

// Splits the stream into lines as the chunks arrive and hands every result line on
// at once; a tag received twice keeps its last delay.
class LatencyStreamReader {
 public:
  using ResultCallback = std::function<void(const std::string& tag, std::int32_t delayMs)>;
  explicit LatencyStreamReader(ResultCallback onResult) : onResult_(std::move(onResult)) {}

  // Handles every complete line in the stream so far.
  void ConsumeLatencyStream(std::string_view chunk);
  // The stream ended: a last line without its line feed counts too.
  void Finish();
  // One line: skipped when empty or without a "nodeTag"; a missing delay is 0.
  void HandleLatencyLine(std::string_view line);

  const std::map<std::string, std::int32_t>& results() const { return results_; }

 private:
  ResultCallback onResult_;
  std::string pending_;
  std::map<std::string, std::int32_t> results_;
};

}  // namespace pelno
