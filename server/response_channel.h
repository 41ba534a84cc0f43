// Where a response goes: the connection's socket, or a recorder in tests.
#pragma once

#include <string_view>

namespace pelno {

class ResponseChannel {
 public:
  virtual ~ResponseChannel() = default;
  // Sends bytes; false when the peer is gone or the send failed.
  virtual bool Send(std::string_view bytes) = 0;
};

}  // namespace pelno
