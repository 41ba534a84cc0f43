#include "plugin/traffic_snapshot_map.h"

#include <string>

#include "engine/json_fields.h"
#include "plugin/json_text_fields.h"

namespace pelno {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr const char* kTotalKeys[] = {"uploadBytesPerSecond", "downloadBytesPerSecond",
                                      "uploadTotalBytes", "downloadTotalBytes"};

EncodableValue ProcessEntry(std::string_view object) {
  EncodableMap entry;
  for (const char* key : {"processName", "policy"})
    entry[EncodableValue(key)] = EncodableValue(JsonStringField(object, key));
  for (const char* key : {"totalBytes", "uploadBytesPerSecond", "downloadBytesPerSecond", "durationSeconds"})
    entry[EncodableValue(key)] = EncodableValue(JsonInt64Field(object, key));
  for (const char* key : {"status", "method", "host"})
    entry[EncodableValue(key)] = EncodableValue(JsonStringField(object, key));
  return EncodableValue(std::move(entry));
}

}  // namespace

EncodableValue ParseTrafficSnapshot(std::string_view text) {
  flutter::EncodableList processes;
  constexpr std::string_view kProcesses = "\"processes\":[";
  std::size_t at = text.find(kProcesses);
  if (at != std::string_view::npos) at += kProcesses.size();
  while (at != std::string_view::npos && at < text.size()) {
    const std::size_t open = text.find('{', at);
    if (open == std::string_view::npos) break;
    int depth = 0;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = open; i < text.size(); ++i) {
      if (text[i] == '{') ++depth;
      if (text[i] == '}' && --depth == 0) {
        close = i;
        break;
      }
    }
    if (close == std::string_view::npos) break;  // cut off: the partial entry is dropped
    processes.push_back(ProcessEntry(text.substr(open, close - open + 1)));
    at = close + 1;
  }
  EncodableMap snapshot;
  for (const char* key : kTotalKeys) snapshot[EncodableValue(key)] = EncodableValue(JsonInt64Field(text, key));
  snapshot[EncodableValue("processes")] = EncodableValue(std::move(processes));
  return EncodableValue(std::move(snapshot));
}

EncodableValue FallbackTrafficSnapshot() {
  EncodableMap snapshot;
  for (const char* key : kTotalKeys) snapshot[EncodableValue(key)] = EncodableValue(std::int32_t{0});
  snapshot[EncodableValue("processes")] = EncodableValue(flutter::EncodableList{});
  return EncodableValue(std::move(snapshot));
}

}  // namespace pelno
