#include "plugin/testing/scripted_helper.h"

#include <ws2tcpip.h>

#include <memory>

namespace pelno::testing {

std::string ScriptedHelper::Reply(std::string_view body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + std::string(body);
}

ScriptedHelper::ScriptedHelper(Script script) : script_(std::move(script)) {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(17891);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_.Get(), SOMAXCONN) != 0) {
    listener_.Reset();
    return;
  }
  acceptor_ = std::thread([this] {
    for (;;) {
      UniqueSocket connection(::accept(listener_.Get(), nullptr, nullptr));
      if (!connection) return;
      std::lock_guard<std::mutex> guard(lock_);
      threads_.emplace_back([this, c = std::make_shared<UniqueSocket>(std::move(connection))] {
        Serve(std::move(*c));
      });
    }
  });
}

ScriptedHelper::~ScriptedHelper() {
  const SOCKET listener = listener_.Release();
  if (listener != INVALID_SOCKET) ::closesocket(listener);
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& thread : threads_) thread.join();
  ::WSACleanup();
}

std::vector<ScriptedHelper::Request> ScriptedHelper::requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

void ScriptedHelper::Serve(UniqueSocket connection) {
  std::string received;
  char buffer[8192];
  std::size_t headEnd = std::string::npos;
  std::size_t total = std::string::npos;
  while (total == std::string::npos || received.size() < total) {
    const int got = ::recv(connection.Get(), buffer, sizeof(buffer), 0);
    if (got <= 0) return;
    received.append(buffer, got);
    if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
      const std::size_t length = received.find("Content-Length: ");
      total = headEnd + 4 + (length < headEnd ? std::stoul(received.substr(length + 16)) : 0);
    }
  }
  Request request;
  const std::size_t space = received.find(' ');
  request.method = received.substr(0, space);
  request.path = received.substr(space + 1, received.find(' ', space + 1) - space - 1);
  request.body = received.substr(headEnd + 4);
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.push_back(request);
  }
  for (const Piece& piece : script_(request)) {
    ::Sleep(piece.delayMs);
    if (::send(connection.Get(), piece.bytes.data(), static_cast<int>(piece.bytes.size()), 0) < 0) return;
  }
  ::shutdown(connection.Get(), SD_SEND);
}

}  // namespace pelno::testing
