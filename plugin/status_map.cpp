#include "plugin/status_map.h"

#include <string>

#include "plugin/json_text_fields.h"

namespace pelno {

flutter::EncodableValue MakeStatusMap(std::string_view status, std::string_view message) {
  return flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("status"), flutter::EncodableValue(std::string(status))},
      {flutter::EncodableValue("platform"), flutter::EncodableValue("windows")},
      {flutter::EncodableValue("message"), flutter::EncodableValue(std::string(message))},
  });
}

flutter::EncodableValue ParseStatusReply(std::string_view reply, std::string_view defaultStatus,
                                         std::string_view defaultMessage) {
  std::string status = JsonStringField(reply, "status");
  std::string message = JsonStringField(reply, "message");
  if (status.empty()) status = defaultStatus;
  if (message.empty()) message = defaultMessage;
  return MakeStatusMap(status, message);
}

std::string StatusOf(const flutter::EncodableValue& statusMap) {
  const auto* map = std::get_if<flutter::EncodableMap>(&statusMap);
  if (map == nullptr) return {};
  const auto found = map->find(flutter::EncodableValue("status"));
  if (found == map->end()) return {};
  const auto* text = std::get_if<std::string>(&found->second);
  return text != nullptr ? *text : std::string();
}

}  // namespace pelno
