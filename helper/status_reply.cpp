#include "helper/status_reply.h"

#include "base/json_escape.h"

namespace pelno {

std::string MakeStatusReply(std::string_view status, std::string_view message) {
  std::string reply = "{\"status\":\"";
  reply += EscapeJsonString(status);
  reply += "\",\"platform\":\"windows\",\"message\":\"";
  reply += EscapeJsonString(message);
  reply += "\"}";
  return reply;
}

}  // namespace pelno
