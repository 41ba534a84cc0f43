// Where a response goes: the connection's socket, or a recorder in tests.
#pragma once

#include <string_view>

namespace pelno {

class ResponseChannel {
 public:
  virtual ~ResponseChannel() = default;
  // Sends bytes; false when the peer is gone or the send failed.
  virtual bool Send(std::string_view bytes) = 0;
  // Callable from any thread: ends a Send blocked on another thread and makes every
  // later Send fail, for a stream that is to end now. Nothing for channels whose
  // sends never wait.
  virtual void Interrupt() {}
};

}  // namespace pelno
