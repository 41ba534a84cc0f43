#include "base/json_escape.h"

namespace pelno {

std::string EscapeJsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          // Raw control bytes are not allowed in a JSON string.
          out += "\\u00";
          out += kHex[static_cast<unsigned char>(c) >> 4];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
        break;
    }
  }
  return out;
}

}  // namespace pelno
