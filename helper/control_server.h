// The helper's loopback HTTP/1.1 control server: one request per connection,
// each connection on a thread of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/unique_handle.h"
#include "helper/route_dispatch.h"
#include "helper/thread_recycler.h"

namespace pelno {

class LogJournal;

inline constexpr std::uint16_t kControlPort = 17891;
// A connection whose request is still incomplete is dropped, without a response,
// when no byte arrives for this long.
inline constexpr std::chrono::milliseconds kConnectionIdleTimeout{30000};
// Connection threads that have served their request wait this long for the next
// connection, at most this many at a time; beyond that they end.
inline constexpr std::chrono::milliseconds kConnectionThreadIdleLifetime{60000};
inline constexpr std::size_t kMaxIdleConnectionThreads = 32;

// Serves the route table on 127.0.0.1:kControlPort until Stop. The routes and the
// journal must outlive every connection thread, that is the program.
class ControlServer {
 public:
  ControlServer(const RouteTable& routes, LogJournal& journal);
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // RunControlServer: logs the start line, listens and accepts on the calling
  // thread. Returns 1 when the set-up fails, 0 once Stop has ended the accepting.
  // Connections already accepted finish on their own threads.
  int Run();

  // Makes Run stop accepting and return; callable from any thread, before or
  // during Run.
  void Stop();

  // Reads one request from the socket, answers it and closes the socket (owned from here on).
  void HandleControlConnection(SOCKET socket);

 private:
  const RouteTable& routes_;
  LogJournal& journal_;
  UniqueHandle stopEvent_;
};

// Sends one complete response with a single send; its result is ignored.
void WriteHttpResponse(SOCKET socket, std::string_view contentType, std::string_view body,
                       int status, std::string_view reason);

// --- Pieces of the server, separate so that tests can drive them. ---

// A non-inheritable listening TCP socket on 127.0.0.1:port. On failure returns an
// empty socket and writes the failing call's WSA error code to `error`.
UniqueSocket OpenListeningSocket(std::uint16_t port, int& error);

// Accepts one connection and makes sure no child process can inherit it.
// Empty on failure.
UniqueSocket AcceptConnection(SOCKET listener);

// Reads and answers one request on `socket` with the given routes and idle limit.
void ServeConnection(UniqueSocket socket, const RouteTable& routes,
                     std::chrono::milliseconds idleTimeout);

// Hands the connection to a thread that runs `serve` on it. When no thread can be
// had the connection is closed, one line is logged and the caller goes on accepting.
void StartConnectionThread(UniqueSocket connection, ThreadRecycler& threads, LogJournal& journal,
                           std::function<void(SOCKET)> serve);

}  // namespace pelno
