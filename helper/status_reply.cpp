#include "helper/status_reply.h"

namespace pelno {

std::string EscapeJsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string MakeStatusReply(std::string_view status, std::string_view message) {
  std::string reply = "{\"status\":\"";
  reply += EscapeJsonString(status);
  reply += "\",\"platform\":\"windows\",\"message\":\"";
  reply += EscapeJsonString(message);
  reply += "\"}";
  return reply;
}

}  // namespace pelno
