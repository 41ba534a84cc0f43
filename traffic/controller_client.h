// A minimal HTTP/1.1 GET client for the engine's controller API on the loopback.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelno {

inline constexpr std::uint16_t kControllerPort = 19090;
// Receive and send time-out of each controller connection.
inline constexpr DWORD kControllerTimeoutMs = 1200;
// No further receive once the reply holds this many bytes.
inline constexpr std::size_t kControllerReplyCap = 0x100000;
inline constexpr int kControllerReceiveChunk = 4096;

// Sends "GET <path>" to 127.0.0.1:<port> on a fresh connection and collects the raw
// reply (status line, headers, body) into `reply`. Reading stops at the peer's
// close, an error or time-out, the reply cap, a complete Content-Length body, or
// once both "up": and "down": keys have arrived (the engine's endless rate stream).
// True when at least one byte was received. Winsock must already be started.
bool ControllerGet(std::uint16_t port, std::string_view path, DWORD timeoutMs, std::string& reply);

}  // namespace pelno
