#include "tools/stand_in_engine/socket_io.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>

#include "base/detached_thread.h"
#include "tools/stand_in_engine/http_message.h"

namespace pelno {
namespace {

constexpr int kRelayChunkBytes = 16 * 1024;
// A relay with no traffic either way for this long is dropped.
constexpr long kRelayIdleSeconds = 300;
constexpr size_t kReceiveChunkBytes = 4096;
// Connections served at once per listener; more are closed at once.
constexpr int kMaxConcurrentConnections = 256;

}  // namespace

WinsockSession::WinsockSession() {
  WSADATA data;
  error_ = WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockSession::~WinsockSession() {
  if (error_ == 0) WSACleanup();
}

std::string SocketError(std::string_view what, int code) {
  return std::string(what) + " failed: " + std::to_string(code);
}

void SetSocketTimeouts(SOCKET s, uint32_t timeout_ms) {
  DWORD value = timeout_ms;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof(value));
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value), sizeof(value));
}

UniqueSocket ConnectTcp(const std::string& host, uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    error = SocketError("resolving " + host, rc);
    return UniqueSocket();
  }
  int last_error = 0;
  UniqueSocket connected;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    UniqueSocket s(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
    if (!s) {
      last_error = WSAGetLastError();
      continue;
    }
    if (connect(s.Get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      connected = std::move(s);
      break;
    }
    last_error = WSAGetLastError();
  }
  freeaddrinfo(found);
  if (!connected) error = SocketError("connecting to " + host + ":" + service, last_error);
  return connected;
}

UniqueSocket ListenTcp(const ListenEndpoint& endpoint, std::string& error) {
  std::string where = endpoint.address + ":" + std::to_string(endpoint.port);
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) {
    error = SocketError("socket for " + where, WSAGetLastError());
    return UniqueSocket();
  }
  BOOL exclusive = TRUE;
  setsockopt(s.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof(exclusive));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  if (inet_pton(AF_INET, endpoint.address.c_str(), &address.sin_addr) != 1) {
    error = "not an IPv4 address: " + endpoint.address;
    return UniqueSocket();
  }
  if (bind(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    error = SocketError("listening on " + where, WSAGetLastError());
    return UniqueSocket();
  }
  if (listen(s.Get(), SOMAXCONN) != 0) {
    error = SocketError("listening on " + where, WSAGetLastError());
    return UniqueSocket();
  }
  return s;
}

bool SendAll(SOCKET s, std::string_view data) {
  while (!data.empty()) {
    int chunk = static_cast<int>(std::min<size_t>(data.size(), 1 << 20));
    int sent = send(s, data.data(), chunk, 0);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

size_t ReceiveHead(SOCKET s, std::string& buffer, size_t limit) {
  char chunk[kReceiveChunkBytes];
  while (true) {
    size_t end = FindHeadEnd(buffer);
    if (end != std::string::npos) return end;
    if (buffer.size() > limit) return 0;
    int got = recv(s, chunk, sizeof(chunk), 0);
    if (got <= 0) return 0;
    buffer.append(chunk, static_cast<size_t>(got));
  }
}

void RelayBoth(SOCKET client, SOCKET remote, TrafficMeter& meter) {
  std::string buffer(kRelayChunkBytes, '\0');
  bool client_open = true;
  while (true) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(remote, &readable);
    if (client_open) FD_SET(client, &readable);
    timeval idle{kRelayIdleSeconds, 0};
    if (select(0, &readable, nullptr, nullptr, &idle) <= 0) return;
    if (FD_ISSET(remote, &readable)) {
      int got = recv(remote, buffer.data(), kRelayChunkBytes, 0);
      if (got <= 0) return;
      if (!SendAll(client, std::string_view(buffer.data(), static_cast<size_t>(got)))) return;
      meter.AddDownload(static_cast<uint64_t>(got));
    }
    if (client_open && FD_ISSET(client, &readable)) {
      int got = recv(client, buffer.data(), kRelayChunkBytes, 0);
      if (got <= 0) {
        client_open = false;
        shutdown(remote, SD_SEND);
        continue;
      }
      if (!SendAll(remote, std::string_view(buffer.data(), static_cast<size_t>(got)))) return;
      meter.AddUpload(static_cast<uint64_t>(got));
    }
  }
}

bool ServeConnections(UniqueSocket listener, ConnectionHandler handler) {
  auto active = std::make_shared<std::atomic<int>>(0);
  auto shared_handler = std::make_shared<ConnectionHandler>(std::move(handler));
  auto shared_listener = std::make_shared<UniqueSocket>(std::move(listener));
  auto accept_loop = [shared_listener, active, shared_handler]() {
    while (true) {
      UniqueSocket connection(accept(shared_listener->Get(), nullptr, nullptr));
      if (!connection) {
        Sleep(10);  // e.g. out of resources; try again rather than spin
        continue;
      }
      if (active->fetch_add(1) >= kMaxConcurrentConnections) {
        active->fetch_sub(1);
        continue;
      }
      try {
        const SOCKET socket = connection.Get();
        StartDetachedThread([socket, active, shared_handler]() {
          (*shared_handler)(UniqueSocket(socket));
          active->fetch_sub(1);
        });
        connection.Release();  // the thread owns it now
      } catch (const std::system_error&) {
        active->fetch_sub(1);  // `connection` still owns the socket and closes it
      }
    }
  };
  try {
    StartDetachedThread(std::move(accept_loop));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace pelno
