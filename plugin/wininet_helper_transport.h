// The real transport to the helper's control port: WinINet, one session per
// request, always direct (never through the user's proxy).
#pragma once

#include "plugin/helper_transport.h"

namespace pelno {

inline constexpr wchar_t kHelperServer[] = L"127.0.0.1";
inline constexpr unsigned long kHelperConnectTimeoutMs = 1500;
inline constexpr unsigned long kHelperSendTimeoutMs = 5000;
inline constexpr unsigned long kHelperReceiveTimeoutMs = 180000;
// Each read takes what has arrived, at most this much.
inline constexpr unsigned long kHelperReadChunk = 4096;

// The bounds of one request's steps. Sending it and receiving the reply's head end
// within connect + send + receive; every later piece of the body within receive of
// the one before (an idle bound: a latency test's stream may run long, a line at a
// time). A call's own bound, when it has one, cuts each of them to what is left.
struct HelperTimeouts {
  unsigned long connectMs = kHelperConnectTimeoutMs;
  unsigned long sendMs = kHelperSendTimeoutMs;
  unsigned long receiveMs = kHelperReceiveTimeoutMs;
};

class WinInetHelperTransport : public HelperTransport {
 public:
  explicit WinInetHelperTransport(const HelperTimeouts& timeouts = {}) : timeouts_(timeouts) {}

  // Each blocking WinINet call runs on a thread of its own that the caller waits for
  // at most the call's bound; one still blocked then is left to the time-outs set on
  // the request, which stays open until that thread is done with it, and the exchange
  // fails as if the helper had not answered.
  std::unique_ptr<HelperReply> Send(std::string_view verb, std::string_view path,
                                    std::string_view body, HelperBound bound) override;

 private:
  HelperTimeouts timeouts_;
};

}  // namespace pelno
