#include "plugin/latency_client.h"

#include <vector>

#include "plugin/helper_client.h"
#include "plugin/latency_stream.h"

namespace pelno {

using flutter::EncodableMap;
using flutter::EncodableValue;

std::string StringArgument(const EncodableMap& arguments, const char* key) {
  const auto found = arguments.find(EncodableValue(key));
  if (found == arguments.end()) return {};
  const auto* text = std::get_if<std::string>(&found->second);
  return text != nullptr ? *text : std::string();
}

// A test runs as long as its results keep coming, each within the transport's idle
// bound; its cancellation has the transport's bounds too.
constexpr HelperBound kLatencyTestBound = kStepBoundsOnly;
constexpr HelperBound kCancelBound = kStepBoundsOnly;

EncodableValue RunLatencyTest(const EncodableMap& arguments, const LatencyResultCallback& onResult,
                              const LatencyClient& client) {
  const std::string config = StringArgument(arguments, "runtimeConfig");
  std::string testUrl = StringArgument(arguments, "testUrl");
  if (testUrl.empty()) testUrl = kDefaultTestUrl;
  const std::string requestId = StringArgument(arguments, "requestId");
  std::vector<std::string> tags;
  const auto nodeTags = arguments.find(EncodableValue("nodeTags"));
  if (nodeTags != arguments.end()) {
    if (const auto* list = std::get_if<flutter::EncodableList>(&nodeTags->second)) {
      for (const EncodableValue& element : *list) {
        const auto* tag = std::get_if<std::string>(&element);
        if (tag != nullptr && !tag->empty()) tags.push_back(*tag);
      }
    }
  }
  if (config.empty() || tags.empty()) return EncodableValue(EncodableMap{});
  if (!client.ensureHelper()) return EncodableValue(EncodableMap{});
  if (!client.listenerIsHelper || !client.listenerIsHelper()) return EncodableValue(EncodableMap{});

  LatencyStreamReader reader(onResult);
  const bool exchanged = HelperRequest(
      client.helper, "POST", "/urltest", BuildUrlTestBody(requestId, testUrl, tags, config),
      kLatencyTestBound,
      [&reader, &client](std::string_view chunk) {
        reader.ConsumeLatencyStream(chunk);
        return client.stop == nullptr || !client.stop->load();
      });
  if (!exchanged) return EncodableValue(EncodableMap{});
  reader.Finish();
  EncodableMap results;
  for (const auto& [tag, delay] : reader.results()) results[EncodableValue(tag)] = EncodableValue(delay);
  return EncodableValue(std::move(results));
}

EncodableValue CancelLatencyTest(const EncodableMap& arguments, const LatencyClient& client) {
  const std::string requestId = StringArgument(arguments, "requestId");
  bool canceled = false;
  if (!requestId.empty() && client.ensureHelper()) {
    std::string ignored;
    canceled = HelperRequestText(client.helper, "POST", "/cancel-urltest", requestId, kCancelBound, ignored);
  }
  return EncodableValue(EncodableMap{
      {EncodableValue("status"), EncodableValue(canceled ? "canceled" : "ignored")}});
}

}  // namespace pelno
