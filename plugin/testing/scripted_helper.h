// A stand-in for the helper's control port in tests: listens on 127.0.0.1:17891,
// records each request and answers it with scripted pieces, each after its delay.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "engine/engine_contract.h"

namespace pelno::testing {

class ScriptedHelper {
 public:
  struct Request {
    std::string path, body;
  };
  struct Piece {
    std::string bytes;
    DWORD delayMs = 0;  // waited before the piece is written
  };
  using Script = std::function<std::vector<Piece>(const Request&)>;

  // A 200 head, close-delimited, followed by `body`.
  static std::string Reply(std::string_view body) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(body);
  }

  // Each path's body at once ("" stands for any other path).
  static Script Answers(std::map<std::string, std::string> bodies) {
    return [bodies](const Request& request) -> std::vector<Piece> {
      return {{Reply(bodies.count(request.path) ? bodies.at(request.path) : bodies.at(""))}};
    };
  }

  explicit ScriptedHelper(Script script) : script_(std::move(script)) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {AF_INET, ::htons(kControlPort), {}, {}};
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener_.Get(), SOMAXCONN);
    acceptor_ = std::thread([this, listener = listener_.Get()] {
      for (SOCKET c; (c = ::accept(listener, nullptr, nullptr)) != INVALID_SOCKET;) {
        std::lock_guard<std::mutex> guard(lock_);
        threads_.emplace_back([this, c] { Serve(UniqueSocket(c)); });
      }
    });
  }
  ~ScriptedHelper() {
    ::closesocket(listener_.Release());
    acceptor_.join();
    for (std::thread& thread : threads_) thread.join();
    ::WSACleanup();
  }
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
  }

 private:
  void Serve(UniqueSocket connection) {
    std::string in;
    char buffer[8192];
    std::size_t head = std::string::npos, total = std::string::npos;
    while (total == std::string::npos || in.size() < total) {
      const int got = ::recv(connection.Get(), buffer, sizeof(buffer), 0);
      if (got <= 0) return;
      in.append(buffer, got);
      if (head == std::string::npos && (head = in.find("\r\n\r\n")) != std::string::npos) {
        const std::size_t length = in.find("Content-Length: ");
        total = head + 4 + (length < head ? std::stoul(in.substr(length + 16)) : 0);
      }
    }
    const std::size_t path = in.find(' ') + 1;
    Request request{in.substr(path, in.find(' ', path) - path), in.substr(head + 4)};
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

  Script script_;
  UniqueSocket listener_;
  std::mutex lock_;
  std::vector<Request> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace pelno::testing
