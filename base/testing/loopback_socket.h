// Winsock for a test's lifetime and TCP sockets on loopback addresses (Win32 tests).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <utility>

#include "base/unique_handle.h"

namespace pelno::testing {

struct WinsockSession {
  WinsockSession() { started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0; }
  ~WinsockSession() {
    if (started) ::WSACleanup();
  }
  WSADATA data{};
  bool started = false;
};

inline sockaddr_in LoopbackAddress(std::uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = ::htons(port);
  ::inet_pton(AF_INET, address, &result.sin_addr);
  return result;
}

// A listener on `address`:`port` with a queue of `backlog`; port 0 takes a free one and
// is set to it. Empty when a step fails.
inline UniqueSocket ListenOnLoopback(std::uint16_t& port, const char* address = "127.0.0.1", int backlog = 1) {
  UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in bound = LoopbackAddress(port, address);
  int length = sizeof bound;
  if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 ||
      ::listen(listener.Get(), backlog) != 0 ||
      ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    return {};
  }
  port = ::ntohs(bound.sin_port);
  return listener;
}

// A connection to `address`:`port`; empty when it is refused.
inline UniqueSocket ConnectToLoopback(std::uint16_t port, const char* address = "127.0.0.1") {
  UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const sockaddr_in to = LoopbackAddress(port, address);
  if (::connect(client.Get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return {};
  return client;
}

}  // namespace pelno::testing
