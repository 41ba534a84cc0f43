#include "plugin/helper_client.h"

#include "plugin/json_text_fields.h"
#include "plugin/status_map.h"

namespace pelno {

bool HelperRequest(HelperTransport& helper, std::string_view verb, std::string_view path,
                   std::string_view body, HelperBound bound, const HelperChunkCallback& onChunk) {
  const std::unique_ptr<HelperReply> reply = helper.Send(verb, path, body, bound);
  if (!reply) return false;
  for (std::string chunk; reply->ReadChunk(chunk);) {
    if (!onChunk(chunk)) break;
  }
  return true;
}

bool HelperRequestText(HelperTransport& helper, std::string_view verb, std::string_view path,
                       std::string_view body, HelperBound bound, std::string& reply) {
  return HelperRequest(helper, verb, path, body, bound, [&reply](std::string_view chunk) {
    reply += chunk;
    return true;
  });
}

bool QueryHelperStatus(HelperTransport& helper, std::string& status) {
  std::string reply;
  if (!HelperRequestText(helper, "GET", "/status", {}, kStatusBound, reply)) return false;
  std::string text = JsonStringField(reply, "status");
  if (text.empty()) return false;
  status = std::move(text);
  return true;
}

bool StopHelperSession(HelperTransport& helper, flutter::EncodableValue& statusMap, HelperBound bound) {
  std::string reply;
  if (!HelperRequestText(helper, "POST", "/stop", {}, bound, reply)) return false;
  statusMap = ParseStatusReply(reply, kStatusDisconnected, "Windows helper disconnected");
  return true;
}

bool StartHelperTunSession(HelperTransport& helper, std::string_view config, flutter::EncodableValue& statusMap) {
  std::string reply;
  if (!HelperRequestText(helper, "POST", "/start-tun", config, kStartTunBound, reply)) return false;
  statusMap = ParseStatusReply(reply, kStatusDisconnected, "Invalid Windows helper response");
  return true;
}

bool HelperAnswersPing(HelperTransport& helper) {
  std::string reply;
  return HelperRequestText(helper, "GET", "/ping", {}, kPingBound, reply) && reply == "pong";
}

}  // namespace pelno
