#include "helper/control_server.h"

#include <ws2tcpip.h>

#include <array>
#include <string>
#include <system_error>
#include <utility>

#include "base/detached_thread.h"
#include "helper/http_request.h"
#include "helper/http_response.h"
#include "helper/log_journal.h"

namespace pelno {

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr char kLoopbackAddress[] = "127.0.0.1";

// Sends each piece with one send call on the connection's socket.
class SocketChannel : public ResponseChannel {
 public:
  explicit SocketChannel(SOCKET socket) : socket_(socket) {}
  bool Send(std::string_view bytes) override {
    const int sent = ::send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0);
    return sent == static_cast<int>(bytes.size());
  }

 private:
  SOCKET socket_;
};

// Makes a blocked recv on the socket give up after `timeout` without a byte.
void SetReceiveTimeout(SOCKET socket, std::chrono::milliseconds timeout) {
  const DWORD milliseconds = static_cast<DWORD>(timeout.count());
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
               sizeof milliseconds);
}

}  // namespace

UniqueSocket OpenListeningSocket(std::uint16_t port, int& error) {
  UniqueSocket listener(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
  if (!listener) {
    error = ::WSAGetLastError();
    return {};
  }
  // Exclusive use of the address: with SO_REUSEADDR any local process could bind the
  // same port too and take the application's requests. A failure here is ignored.
  const int exclusive = 1;
  ::setsockopt(listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  ::inet_pton(AF_INET, kLoopbackAddress, &address.sin_addr);
  if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
          SOCKET_ERROR ||
      ::listen(listener.Get(), SOMAXCONN) == SOCKET_ERROR) {
    error = ::WSAGetLastError();
    return {};
  }
  return listener;
}

UniqueSocket AcceptConnection(SOCKET listener) {
  UniqueSocket connection(::accept(listener, nullptr, nullptr));
  if (!connection) return connection;
  // Accepted sockets take the listener's attributes: clearing the flag again keeps
  // them out of any child process whatever the provider does, and a listener under
  // WSAEventSelect would hand over its event and non-blocking mode.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(connection.Get()), HANDLE_FLAG_INHERIT, 0);
  ::WSAEventSelect(connection.Get(), nullptr, 0);
  u_long blocking = 0;
  ::ioctlsocket(connection.Get(), FIONBIO, &blocking);
  return connection;
}

void WriteHttpResponse(SOCKET socket, std::string_view contentType, std::string_view body,
                       int status, std::string_view reason) {
  SocketChannel(socket).Send(FormatHttpResponse(status, reason, contentType, body));
}

void ServeConnection(UniqueSocket socket, const RouteTable& routes,
                     std::chrono::milliseconds idleTimeout) {
  SetReceiveTimeout(socket.Get(), idleTimeout);
  RequestAssembler assembler;
  std::array<char, kReceiveChunkSize> chunk;
  while (assembler.state() == RequestState::kIncomplete) {
    const int received = ::recv(socket.Get(), chunk.data(), static_cast<int>(chunk.size()), 0);
    if (received <= 0) return;  // closed, failed or idle too long: no response
    assembler.Append(std::string_view(chunk.data(), static_cast<std::size_t>(received)));
  }
  if (const auto refusal = RefusalResponse(assembler.state())) {
    WriteHttpResponse(socket.Get(), refusal->contentType, refusal->body, refusal->status,
                      refusal->reason);
    return;
  }
  SocketChannel channel(socket.Get());
  ServeRequest(routes, assembler.Request(), channel);
}

void StartConnectionThread(UniqueSocket connection, ThreadRecycler& threads, LogJournal& journal,
                           std::function<void(SOCKET)> serve) {
  const SOCKET socket = connection.Get();
  try {
    threads.Run([socket, serve = std::move(serve)] { serve(socket); });
    connection.Release();  // the thread owns it now
  } catch (const std::system_error& error) {
    journal.AppendLog(std::string("Control connection dropped: no thread could be started (") +
                      error.what() + ")");
    // `connection` closes the socket on the way out.
  }
}

ControlServer::ControlServer(const RouteTable& routes, LogJournal& journal)
    : routes_(routes), journal_(journal), stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void ControlServer::Stop() { ::SetEvent(stopEvent_.Get()); }

void ControlServer::HandleControlConnection(SOCKET socket) {
  ServeConnection(UniqueSocket(socket), routes_, kConnectionIdleTimeout);
}

int ControlServer::Run() {
  journal_.AppendLog("PelnoVpnHelper started");
  WSADATA winsock;
  if (::WSAStartup(kWinsockVersion, &winsock) != 0) return 1;
  int error = 0;
  UniqueSocket listener = OpenListeningSocket(kControlPort, error);
  // The listener signals this event when a connection waits, so one wait covers
  // both a new connection and Stop.
  UniqueHandle acceptEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!listener || !stopEvent_ || !acceptEvent ||
      ::WSAEventSelect(listener.Get(), acceptEvent.Get(), FD_ACCEPT) == SOCKET_ERROR) {
    listener.Reset();
    ::WSACleanup();
    return 1;
  }

  ThreadRecycler threads(StartDetachedThread, kMaxIdleConnectionThreads,
                         kConnectionThreadIdleLifetime);
  const HANDLE events[] = {stopEvent_.Get(), acceptEvent.Get()};
  while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    // Take every connection that waits; the listener is non-blocking now.
    while (UniqueSocket connection = AcceptConnection(listener.Get())) {
      StartConnectionThread(std::move(connection), threads, journal_,
                            [this](SOCKET socket) { HandleControlConnection(socket); });
    }
  }
  listener.Reset();
  // Winsock stays initialised: connection threads may still be answering.
  return ::WaitForSingleObject(stopEvent_.Get(), 0) == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace pelno
