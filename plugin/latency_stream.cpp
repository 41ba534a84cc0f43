#include "plugin/latency_stream.h"

#include "plugin/json_text_fields.h"

namespace pelno {
namespace {

void AppendCounted(std::string& body, std::string_view text) {
  body += std::to_string(text.size());
  body += '\n';
  body += text;
  body += '\n';
}

}  // namespace

std::string BuildUrlTestBody(std::string_view requestId, std::string_view testUrl,
                             const std::vector<std::string>& tags, std::string_view config) {
  std::string body = "PELNOVPN_URLTEST_V2\n";
  AppendCounted(body, requestId);
  AppendCounted(body, testUrl);
  body += std::to_string(tags.size());
  body += '\n';
  for (const std::string& tag : tags) AppendCounted(body, tag);
  body += std::to_string(config.size());
  body += '\n';
  body += config;
  return body;
}

void LatencyStreamReader::ConsumeLatencyStream(std::string_view chunk) {
  pending_ += chunk;
  std::size_t start = 0;
  for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
    HandleLatencyLine(std::string_view(pending_).substr(start, end - start));
  }
  pending_.erase(0, start);
}

void LatencyStreamReader::Finish() {
  if (pending_.empty()) return;
  const std::string last = std::move(pending_);
  pending_.clear();
  HandleLatencyLine(last);
}

void LatencyStreamReader::HandleLatencyLine(std::string_view line) {
  if (line.empty()) return;
  const std::string tag = JsonStringField(line, "nodeTag");
  if (tag.empty()) return;
  const std::int32_t delay = JsonIntField(line, "delayMs", 0);
  results_[tag] = delay;
  if (onResult_) onResult_(tag, delay);
}

}  // namespace pelno
