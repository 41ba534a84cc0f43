// The helper's loopback HTTP/1.1 control server: one request per connection,
// each connection on a thread of its own: the thread that accepted it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/mutex.h"
#include "base/unique_handle.h"
#include "engine/engine_contract.h"
#include "server/accepting_roster.h"
#include "server/caller_check.h"
#include "server/connection_table.h"
#include "server/http_request.h"
#include "server/request_memory_budget.h"
#include "server/route_dispatch.h"
#include "server/thread_recycler.h"

namespace pelno {

class LogJournal;

// setsockopt's shape. Wine never refuses the options the server depends on, so
// tests hand in a stand-in that does.
using SetSocketOption = int(WSAAPI*)(SOCKET, int level, int name, const char* value, int length);

// A connection whose request is still incomplete is dropped, without a response,
// when no byte arrives for this long...
inline constexpr std::chrono::milliseconds kConnectionIdleTimeout{30000};
// ...or when its whole request (head and body) has not arrived this long after the
// accept, however the bytes trickle in.
inline constexpr std::chrono::milliseconds kRequestDeadline{60000};
// A send that cannot hand its bytes over for this long (the client takes nothing)
// fails, and the connection is given up.
inline constexpr std::chrono::milliseconds kConnectionSendTimeout{10000};
// Connections served at once. Each holds a thread; at the limit a new connection
// takes the place of the oldest one still sending its request (closed unanswered),
// and only when every connection's request is being served is the new one closed
// at once, without a thread.
inline constexpr std::size_t kMaxControlConnections = 256;
// Stack reserved per connection thread instead of the program's 2 MiB; a request
// needs a few KiB. (Wine reserves at least 1 MiB and spends about 1 MB per thread
// whatever the stack, so there the connection limit is what bounds memory.)
inline constexpr unsigned kConnectionThreadStackReserve = 256 * 1024;
// Threads that have served their request and are not needed at the accept wait
// this long for other work, at most this many at a time; beyond that they end.
inline constexpr std::chrono::milliseconds kConnectionThreadIdleLifetime{60000};
inline constexpr std::size_t kMaxIdleConnectionThreads = 32;
// Up to this many threads wait in a blocking accept at once, each serving what it
// accepts itself (server/accepting_roster.h); the last one to leave for a connection
// starts another first. Stop closes the listener, which ends every accept that waits
// and makes any later one fail at once. An accept that fails for another reason than
// a client's reset waits this long before the next, so a lasting failure cannot spin
// the loop.
inline constexpr std::size_t kMaxAcceptingThreads = 8;
inline constexpr std::chrono::milliseconds kAcceptRetryInterval{250};
// How long a stop waits for the answers still being written.
inline constexpr std::chrono::milliseconds kAnswersAtStopBound{3000};

// What every connection is served with, shared by the server and its connection
// threads, which may outlive the server: the routes and the caller check (which
// must outlive every connection thread; the program keeps them to its end), the
// setsockopt function, the memory budgets of all requests and the table of open
// connections.
struct ConnectionServices {
  const RouteTable& routes;
  CallerGate& callers;
  SetSocketOption setOption;
  RequestMemoryBudget headerBudget{kHeaderMemoryBudget};
  RequestMemoryBudget budget{kRequestMemoryBudget};
  ConnectionTable connections{kMaxControlConnections};
};

// Serves the route table on 127.0.0.1:kControlPort until Stop. Each connection's job
// holds the shared ConnectionServices and its place among the open connections,
// never the server; the journal need only outlive the server.
class ControlServer {
 public:
  // `callers` decides who may be served; `setOption` is setsockopt, or a stand-in in tests.
  ControlServer(const RouteTable& routes, LogJournal& journal, CallerGate& callers,
                SetSocketOption setOption);
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // RunControlServer: logs the start line, listens, and waits while connection
  // threads accept. Returns 1 when the set-up fails (after one log
  // line naming the failing step and its error), 0 once Stop has ended the accepting. Connections already
  // accepted finish on their own threads. `whenListening`, unless empty, runs once
  // the port is this process's alone and before the first connection is accepted:
  // no other helper serves then, and no request of this one has begun.
  int Run(const std::function<void()>& whenListening);

  // Makes Run stop accepting and return; callable from any thread, before or
  // during Run. Closes the listener.
  void Stop();

  // After Run has returned: closes the connections still sending their request and
  // waits at most kAnswersAtStopBound for the answers being written (a start that
  // the stop waited for, say) before the process may end. True when all went out.
  bool FinishAnswers();

 private:
  // A place for an accepted connection, making room at the limit; null when no room
  // can be made.
  std::unique_ptr<ConnectionTable::Place> Admit(SOCKET connection);
  // Accepts and serves each connection itself, on a thread holding a place on the
  // roster, until Stop is seen or enough other threads accept.
  void AcceptAndServe(SOCKET listening, ThreadRecycler& threads);

  LogJournal& journal_;
  Mutex listenerLock_;  // over stopping_'s setting and listener_
  std::atomic<bool> stopping_{false};
  UniqueSocket listener_ GUARDED_BY(listenerLock_);  // while Run accepts; Stop closes it
  UniqueHandle stopEvent_;  // set with stopping_; ends the pause after a failed accept
  std::shared_ptr<AcceptingRoster> roster_;  // shared with the threads, which may outlive the server
  std::shared_ptr<ConnectionServices> services_;
  std::atomic<bool> atConnectionLimit_{false};  // the limit has been logged for this burst
};

// Sends one complete response with a single send; its result is ignored.
void WriteHttpResponse(SOCKET socket, std::string_view contentType, std::string_view body,
                       int status, std::string_view reason);

// --- Pieces of the server, separate so that tests can drive them. ---

// The step of the set-up that failed ("bind 127.0.0.1:17891") and its Winsock error.
struct SetupFailure {
  std::string step;
  int error = 0;
};

// A non-inheritable listening TCP socket on 127.0.0.1:port, for the exclusive use
// of this process and with the idle limit as its receive time-out. Empty on
// failure, with the failing step in `failure`.
UniqueSocket OpenListeningSocket(std::uint16_t port, SetupFailure& failure,
                                 SetSocketOption setOption);

// Accepts one connection, not inheritable whatever the listener is, blocking as the
// listener is. Empty on failure, with the Winsock error in `error`.
UniqueSocket AcceptConnection(SOCKET listener, int& error);

// Ends the reads of a connection at once, from another thread: a blocked read
// returns and no later one waits. The socket stays open.
void InterruptConnection(SOCKET socket);

// Reads and answers one request on `socket` within kConnectionIdleTimeout and
// kRequestDeadline, each send bounded by kConnectionSendTimeout, its bytes held against
// the services' budgets, its caller checked once its header is read (a refused one gets
// the same 403 as a foreign Host), and leaves `place` before the socket closes. When
// either time-out cannot be set the connection is closed unanswered: without it a
// silent client, or one that never reads, would hold its thread for ever.
void HandleControlConnection(UniqueSocket socket, ConnectionTable::Place& place,
                             ConnectionServices& services);

// Runs `job` (the accepting from now on) on another thread. When
// no thread can be had, logs one line and returns false: the job is dropped
// unstarted, and the caller closes the connection and goes on accepting.
bool StartOnAnotherThread(ThreadRecycler& threads, LogJournal& journal, ThreadJob job);

}  // namespace pelno
