#include "traffic/controller_client.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>

#include "base/unique_handle.h"

namespace pelno {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kContentLengthName = "content-length:";

// True when the headers carry a Content-Length and the body behind them is complete.
bool BodyComplete(const std::string& reply) {
  const std::size_t headerEnd = reply.find(kHeaderEnd);
  if (headerEnd == std::string::npos) return false;
  std::string headers = reply.substr(0, headerEnd);
  std::transform(headers.begin(), headers.end(), headers.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t name = headers.find(kContentLengthName);
  if (name == std::string::npos) return false;
  std::size_t i = name + kContentLengthName.size();
  while (i < headers.size() && headers[i] == ' ') ++i;
  const std::size_t digits = i;
  std::size_t length = 0;
  const std::size_t available = reply.size() - headerEnd - kHeaderEnd.size();
  for (; i < headers.size() && headers[i] >= '0' && headers[i] <= '9'; ++i) {
    // Past what has arrived the value no longer matters; stop growing it there.
    if (length <= available) length = length * 10 + static_cast<std::size_t>(headers[i] - '0');
  }
  return i > digits && available >= length;
}

bool HasRateSample(const std::string& reply) {
  return reply.find("\"up\":") != std::string::npos && reply.find("\"down\":") != std::string::npos;
}

}  // namespace

bool ControllerGet(std::uint16_t port, std::string_view path, DWORD timeoutMs, std::string& reply) {
  UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!socket) return false;
  // Closed with a reset rather than a FIN: the reply is read (or the rate stream cut)
  // by then, and an application polling snapshots would otherwise pile up a
  // TIME_WAIT socket per request, which every socket-table read has to walk.
  const linger abortive{1, 0};
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
               sizeof abortive);
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }

  std::string request = "GET ";
  request += path;
  request += " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  // One send; a short send is not continued.
  if (::send(socket.Get(), request.data(), static_cast<int>(request.size()), 0) == SOCKET_ERROR) {
    return false;
  }

  reply.clear();
  char chunk[kControllerReceiveChunk];
  while (reply.size() < kControllerReplyCap) {
    const int received = ::recv(socket.Get(), chunk, sizeof chunk, 0);
    if (received <= 0) break;
    reply.append(chunk, static_cast<std::size_t>(received));
    if (BodyComplete(reply) || HasRateSample(reply)) break;
  }
  return !reply.empty();
}

}  // namespace pelno
