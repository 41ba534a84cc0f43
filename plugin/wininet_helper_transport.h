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

class WinInetHelperTransport : public HelperTransport {
 public:
  std::unique_ptr<HelperReply> Send(std::string_view verb, std::string_view path,
                                    std::string_view body) override;
};

}  // namespace pelno
