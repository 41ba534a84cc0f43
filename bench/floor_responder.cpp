// Benchmark tool, never shipped: the least a Winsock server can do per request.
// One thread accepts a connection, reads until the blank line, sends the same
// bytes the helper answers to GET /ping and closes. It gives the floor against
// which the helper's /ping latency is compared.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/unique_handle.h"

namespace {

constexpr unsigned short kDefaultPort = 17991;
constexpr std::string_view kPong =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n"
    "Connection: close\r\n\r\npong";

void Answer(SOCKET connection) {
  std::string request;
  char chunk[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int received = ::recv(connection, chunk, sizeof chunk, 0);
    if (received <= 0) return;
    request.append(chunk, static_cast<std::size_t>(received));
  }
  ::send(connection, kPong.data(), static_cast<int>(kPong.size()), 0);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned short port =
      argc > 1 ? static_cast<unsigned short>(std::atoi(argv[1])) : kDefaultPort;
  WSADATA winsock;
  if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 1;
  pelno::UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (!listener ||
      ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Get(), SOMAXCONN) != 0) {
    std::fprintf(stderr, "floor responder: cannot listen on %u (WSA error %d)\n", port,
                 ::WSAGetLastError());
    return 1;
  }
  for (;;) {
    pelno::UniqueSocket connection(::accept(listener.Get(), nullptr, nullptr));
    if (connection) Answer(connection.Get());
  }
}
