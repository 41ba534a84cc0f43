#include "server/control_server.h"

#include <ws2tcpip.h>

#include <array>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "base/detached_thread.h"
#include "server/connection_table.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/log_journal.h"

namespace pelno {

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr char kLoopbackAddress[] = "127.0.0.1";

// Sends each piece with one send call on the connection's socket.
class SocketChannel : public ResponseChannel {
 public:
  explicit SocketChannel(SOCKET socket) : socket_(socket) {}
  bool Send(std::string_view bytes) override {
    if (interrupted_) return false;
    const int sent = ::send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
    return sent == static_cast<int>(bytes.size());
  }
  // CancelIoEx ends a blocking send on any thread. A send that starts in the instant
  // between the flag's check and the cancel ends with the send time-out instead.
  void Interrupt() override {
    interrupted_ = true;
    ::CancelIoEx(reinterpret_cast<HANDLE>(socket_), nullptr);
  }

 private:
  SOCKET socket_;
  std::atomic<bool> interrupted_{false};
};

// Makes a blocked recv on the socket give up after `timeout` without a byte.
bool SetReceiveTimeout(SOCKET socket, std::chrono::milliseconds timeout, SetSocketOption setOption) {
  const DWORD milliseconds = static_cast<DWORD>(timeout.count());
  return setOption(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
                   sizeof milliseconds) == 0;
}

// Makes a send that cannot hand its bytes over within `timeout` fail.
bool SetSendTimeout(SOCKET socket, std::chrono::milliseconds timeout, SetSocketOption setOption) {
  const DWORD milliseconds = static_cast<DWORD>(timeout.count());
  return setOption(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&milliseconds),
                   sizeof milliseconds) == 0;
}

std::string Endpoint(std::uint16_t port) {
  return std::string(kLoopbackAddress) + ":" + std::to_string(port);
}

// The connection's far end, when it is IPv4 and can be read.
std::optional<PeerEndpoint> PeerOf(SOCKET socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return std::nullopt;
  }
  return PeerEndpoint{address.sin_addr.s_addr, ::ntohs(address.sin_port)};
}

}  // namespace

UniqueSocket OpenListeningSocket(std::uint16_t port, SetupFailure& failure, SetSocketOption setOption) {
  const auto fail = [&failure](std::string step) {
    failure = {std::move(step), ::WSAGetLastError()};
    return UniqueSocket();
  };
  UniqueSocket listener(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
  if (!listener) return fail("create its socket");
  // Without exclusive use another local process could bind the same port and take
  // the application's requests.
  const int exclusive = 1;
  if (setOption(listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0) {
    return fail("get exclusive use of " + Endpoint(port));
  }
  // Every connection sets its own receive time-out; trying it on the listener first
  // finds a stack that refuses the option before any client is served without one.
  if (!SetReceiveTimeout(listener.Get(), kConnectionIdleTimeout, setOption)) {
    return fail("set a receive time-out");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  ::inet_pton(AF_INET, kLoopbackAddress, &address.sin_addr);
  if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    return fail("bind " + Endpoint(port));
  }
  if (::listen(listener.Get(), SOMAXCONN) == SOCKET_ERROR) return fail("listen on " + Endpoint(port));
  return listener;
}

UniqueSocket AcceptConnection(SOCKET listener, int& error) {
  UniqueSocket connection(::accept(listener, nullptr, nullptr));
  if (!connection) {
    error = ::WSAGetLastError();
    return connection;
  }
  // Accepted sockets take the listener's attributes, blocking mode included: clearing
  // the flag again keeps them out of any child process whatever the provider does
  // (Wine hands them out inheritable).
  ::SetHandleInformation(reinterpret_cast<HANDLE>(connection.Get()), HANDLE_FLAG_INHERIT, 0);
  return connection;
}

void WriteHttpResponse(SOCKET socket, std::string_view contentType, std::string_view body,
                       int status, std::string_view reason) {
  SocketChannel(socket).Send(FormatHttpResponse(status, reason, contentType, body));
}

void InterruptConnection(SOCKET socket) {
  // Shutting down both ways makes every later read end at once, and a read that
  // already waits is cancelled; the connection's own thread still closes the socket.
  ::shutdown(socket, SD_BOTH);
  ::CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

void HandleControlConnection(UniqueSocket socket, ConnectionTable::Place& place,
                             ConnectionServices& services) {
  // Leaves the table on every way out, before `socket` closes: another thread may
  // interrupt the connection while it holds its place.
  struct LeaveFirst {
    ConnectionTable::Place& place;
    ~LeaveFirst() { place.Leave(); }
  } leaveFirst{place};
  using namespace std::chrono;
  const steady_clock::time_point deadline = steady_clock::now() + kRequestDeadline;
  milliseconds timeout = kConnectionIdleTimeout;
  if (!SetReceiveTimeout(socket.Get(), timeout, services.setOption)) return;
  if (!SetSendTimeout(socket.Get(), kConnectionSendTimeout, services.setOption)) return;
  RequestAssembler assembler(services.headerBudget, services.budget, [&](std::string_view method, std::string_view path) {
    return services.callers.Admits(method, path, [&socket] { return PeerOf(socket.Get()); });
  });
  std::array<char, kReceiveChunkSize> chunk;
  while (assembler.state() == RequestState::kIncomplete) {
    // Once the deadline is nearer than the idle limit, the next read may wait only
    // until the deadline. A time-out of 0 would mean no limit at all.
    const milliseconds left = duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left <= milliseconds::zero()) return;
    if (left < timeout) {
      timeout = left;
      if (!SetReceiveTimeout(socket.Get(), timeout, services.setOption)) return;
    }
    const int received = ::recv(socket.Get(), chunk.data(), static_cast<int>(chunk.size()), 0);
    if (received <= 0) return;  // closed, failed, out of time or interrupted: no response
    assembler.Append(std::string_view(chunk.data(), static_cast<std::size_t>(received)));
  }
  if (!place.KeepPlace()) return;  // closed to make room as the last bytes came
  if (const auto refusal = RefusalResponse(assembler.state())) {
    WriteHttpResponse(socket.Get(), refusal->contentType, refusal->body, refusal->status,
                      refusal->reason);
    return;
  }
  const ControlRequest request = assembler.TakeRequest();
  const ControlRoute* route = FindRoute(services.routes, request.method, request.path);
  if (route != nullptr && route->stream) {
    // A stream sends one line at a time: Nagle's wait for the previous segment's
    // acknowledgement would only hold back the next line. A single response needs
    // no such option, and each option is a round trip to the wineserver under Wine.
    const BOOL noDelay = TRUE;
    ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
  }
  SocketChannel channel(socket.Get());
  ServeRequest(services.routes, request, channel);
}

bool StartOnAnotherThread(ThreadRecycler& threads, LogJournal& journal, ThreadJob job) {
  try {
    threads.Run(std::move(job));
    return true;
  } catch (const std::system_error& error) {
    journal.AppendLog(std::string("Control connection dropped: no thread could be started (") +
                      error.what() + ")");
    return false;
  }
}

ControlServer::ControlServer(const RouteTable& routes, LogJournal& journal, CallerGate& callers,
                             SetSocketOption setOption)
    : journal_(journal),
      stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      roster_(std::make_shared<AcceptingRoster>(kMaxAcceptingThreads)),
      services_(std::make_shared<ConnectionServices>(routes, callers, setOption)) {}

void ControlServer::Stop() {
  MutexLock lock(listenerLock_);
  stopping_ = true;
  roster_->Stop();
  ::SetEvent(stopEvent_.Get());
  listener_.Reset();
}

bool ControlServer::FinishAnswers() {
  return services_->connections.CloseUnfinishedAndWait(kAnswersAtStopBound);
}

std::unique_ptr<ConnectionTable::Place> ControlServer::Admit(SOCKET connection) {
  ConnectionTable::Admission admission;
  std::unique_ptr<ConnectionTable::Place> place =
      services_->connections.Admit([connection] { InterruptConnection(connection); }, admission);
  if (admission == ConnectionTable::Admission::kAdmitted) {
    atConnectionLimit_ = false;
  } else if (!atConnectionLimit_.exchange(true)) {
    // One line per burst: a flood must not fill the journal.
    journal_.AppendLog("Control connections at the limit of " + std::to_string(kMaxControlConnections) +
                       (place ? "; the oldest still sending their request are closed"
                              : "; new connections are closed"));
  }
  return place;
}

void ControlServer::AcceptAndServe(SOCKET listening, ThreadRecycler& threads) {
  // This thread holds a place on the roster while it accepts; Run returns only once
  // every place is given up, so `this` and `threads` are touched only while one is held.
  const std::shared_ptr<AcceptingRoster> roster = roster_;
  const std::shared_ptr<ConnectionServices> services = services_;
  for (;;) {
    if (stopping_) {
      roster->Leave();  // nothing of the server is touched after this
      return;
    }
    // A Stop from here on closes the listener: the accept fails at once, whatever
    // `listening` names by then (this process has no other listening socket that the
    // value could have been given to). An earlier Stop was seen just above.
    int error = 0;
    UniqueSocket connection = AcceptConnection(listening, error);
    if (stopping_) continue;  // `connection`, if any, closes unanswered
    if (!connection) {
      if (error != WSAECONNRESET) {
        ::WaitForSingleObject(stopEvent_.Get(), static_cast<DWORD>(kAcceptRetryInterval.count()));
      }
      continue;
    }
    std::unique_ptr<ConnectionTable::Place> place = Admit(connection.Get());
    if (!place) continue;  // `connection` closes
    if (roster->LeaveToServe() &&
        !StartOnAnotherThread(threads, journal_, [this, listening, &threads] { AcceptAndServe(listening, threads); })) {
      // No thread would accept while this one serves: it goes on accepting instead.
      place.reset();  // leaves the table before `connection` closes
      continue;
    }
    HandleControlConnection(std::move(connection), *place, *services);
    place.reset();
    if (!roster->Rejoin()) return;  // stopped, or enough threads accept
  }
}

int ControlServer::Run(const std::function<void()>& whenListening) {
  journal_.AppendLog("PelnoVpnHelper started");
  const auto failed = [this](const std::string& step, int error) {
    journal_.AppendLog("Control server could not " + step + " (Winsock error " + std::to_string(error) + ")");
    return 1;
  };
  WSADATA winsock;
  if (const int error = ::WSAStartup(kWinsockVersion, &winsock); error != 0) {
    return failed("start Winsock", error);
  }
  SetupFailure failure;
  UniqueSocket listener = OpenListeningSocket(kControlPort, failure, services_->setOption);
  if (listener && !stopEvent_) {
    failure = {"wait for connections", static_cast<int>(::GetLastError())};
    listener.Reset();
  }
  if (!listener) {
    ::WSACleanup();
    return failed(failure.step, failure.error);
  }
  SOCKET listening = INVALID_SOCKET;
  {
    // Handed to Stop's reach before stopping_ is read: a Stop from here on closes
    // it, and one that came before ends the first turn before its accept.
    MutexLock lock(listenerLock_);
    listening = listener.Get();
    listener_ = std::move(listener);
  }

  if (whenListening) whenListening();
  ThreadRecycler threads(
      [](ThreadJob job) { StartDetachedThread(std::move(job), kConnectionThreadStackReserve); },
      kMaxIdleConnectionThreads, kConnectionThreadIdleLifetime);
  int result = 0;
  // A Stop before this leaves nothing to wait for.
  if (roster_->Reserve()) {
    try {
      threads.Run([this, listening, &threads] { AcceptAndServe(listening, threads); });
    } catch (const std::system_error& error) {
      roster_->Leave();
      journal_.AppendLog(std::string("Control server could not start accepting (") + error.what() + ")");
      result = 1;
    }
  }
  roster_->WaitUntilNoneAccepts();
  {
    MutexLock lock(listenerLock_);
    listener_.Reset();
  }
  // Winsock stays initialised: connection threads may still be answering.
  return result;
}

}  // namespace pelno
