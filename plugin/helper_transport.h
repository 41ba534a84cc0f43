// How the plug-in reaches the helper's control port: one request in, its status and
// a reader of its body out. A seam, so that the clients of the helper run against a
// fake; WinInetHelperTransport (plugin/wininet_helper_transport.h) is the real one.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace pelno {

class HelperReply {
 public:
  virtual ~HelperReply() = default;
  // The reply's HTTP status code.
  virtual int Status() const = 0;
  // The next piece of the body as soon as some of it has arrived (never waiting for a
  // full buffer); false at the end of the body or when reading broke off.
  virtual bool ReadChunk(std::string& chunk) = 0;
};

// The longest one exchange may take in all, from sending the request to the end of
// its reply; kStepBoundsOnly leaves each step to the transport's own bounds (a stream
// is read for as long as each piece comes within its idle bound).
using HelperBound = std::chrono::milliseconds;
inline constexpr HelperBound kStepBoundsOnly{0};

class HelperTransport {
 public:
  virtual ~HelperTransport() = default;
  // Sends `verb` `path` with `body` as JSON; null when the exchange failed before a
  // reply came (nothing listening, a time-out). Past `bound` the reply reads no
  // further. Safe to call from any thread.
  virtual std::unique_ptr<HelperReply> Send(std::string_view verb, std::string_view path,
                                            std::string_view body, HelperBound bound) = 0;
};

}  // namespace pelno
