#include "helper/control_server.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <system_error>
#include <thread>

#include "helper/log_journal.h"

namespace pelno {
namespace {

using namespace std::chrono_literals;

// setsockopt that refuses the option `kRefused` the way a provider would.
template <int kRefused>
int WSAAPI RefuseOption(SOCKET socket, int level, int name, const char* value, int length) {
  if (name != kRefused) return ::setsockopt(socket, level, name, value, length);
  ::WSASetLastError(WSAENOPROTOOPT);
  return SOCKET_ERROR;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  return address;
}

// A socket listening on 127.0.0.1:port (0: any free port), exclusively.
UniqueSocket Listen(std::uint16_t port) {
  UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const int exclusive = 1;
  ::setsockopt(socket.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  const sockaddr_in address = Loopback(port);
  EXPECT_EQ(::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(socket.Get(), 1), 0);
  return socket;
}

// A client connected to the port, or to the listener's port; empty when refused.
UniqueSocket Connect(std::uint16_t port, SOCKET listener = INVALID_SOCKET) {
  sockaddr_in address = Loopback(port);
  int length = sizeof address;
  if (listener != INVALID_SOCKET) ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
  const DWORD timeoutMs = 10000;  // a hung server fails the test instead of blocking it
  ::setsockopt(client.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);
  return client;
}

void SendPing(SOCKET client) { ::send(client, "GET /ping HTTP/1.1\r\n\r\n", 22, 0); }

// Reads until the server closes; "" when it closed unanswered.
std::string ReadAll(SOCKET client) {
  std::string received;
  char chunk[256];
  for (int n; (n = ::recv(client, chunk, sizeof chunk, 0)) > 0;) received.append(chunk, n);
  return received;
}

bool IsInheritable(SOCKET socket) {
  DWORD flags = 0;
  return ::GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags) && (flags & HANDLE_FLAG_INHERIT);
}

const RouteTable kPingRoutes = {
    {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("pong"); }, nullptr}};

class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override { ::WSACleanup(); }
};

// The engine that the helper starts must not inherit the control sockets.
TEST_F(ControlServerTest, SocketsAreNotInheritable) {
  SetupFailure failure;
  UniqueSocket listener = OpenListeningSocket(0, failure);
  ASSERT_TRUE(listener) << failure.step << " " << failure.error;
  UniqueSocket client = Connect(0, listener.Get());
  UniqueSocket accepted = AcceptConnection(listener.Get());
  ASSERT_TRUE(accepted);
  EXPECT_FALSE(IsInheritable(listener.Get()));
  EXPECT_FALSE(IsInheritable(accepted.Get()));
}

// The helper does not serve when the port is taken or an option it depends on is
// refused, and says why in one line.
TEST_F(ControlServerTest, RunLogsTheFailingStepAndReturnsOne) {
  const struct {
    SetSocketOption setOption;
    std::string line;
  } cases[] = {
      {::setsockopt, "Control server could not bind 127.0.0.1:17891 (Winsock error 100"},
      {RefuseOption<SO_EXCLUSIVEADDRUSE>,
       "Control server could not get exclusive use of 127.0.0.1:17891 (Winsock error 10042)"},
      {RefuseOption<SO_RCVTIMEO>, "Control server could not set a receive time-out (Winsock error 10042)"},
  };
  UniqueSocket holder = Listen(kControlPort);  // bind fails after the options are set
  for (const auto& c : cases) {
    LogJournal journal;
    ControlServer server(kPingRoutes, journal, c.setOption);
    EXPECT_EQ(server.Run(), 1) << c.line;
    const std::string log = journal.ReadLogJournal();
    const std::size_t failed = log.find(c.line);
    EXPECT_LT(log.find("] PelnoVpnHelper started\r\n"), failed) << log;
    EXPECT_EQ(log.find("Control server", failed + 1), std::string::npos) << log;  // one line
  }
}

// A stop from another thread ends the accepting and frees the port; a connection
// accepted before it is still answered.
TEST_F(ControlServerTest, StopEndsRunAndReleasesThePort) {
  LogJournal journal;
  ControlServer server(kPingRoutes, journal);
  int result = -1;
  std::thread running([&] { result = server.Run(); });
  UniqueSocket client;
  for (int attempt = 0; attempt < 100 && !(client = Connect(kControlPort)); ++attempt) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(client);
  std::this_thread::sleep_for(200ms);  // accepted, its thread waits for the request
  server.Stop();
  running.join();
  EXPECT_EQ(result, 0);
  SendPing(client.Get());
  const std::string reply = ReadAll(client.Get());
  EXPECT_TRUE(reply.ends_with("\r\n\r\npong")) << reply;
  Listen(kControlPort);  // binds again: the port is free
}

TEST_F(ControlServerTest, WithoutAThreadTheConnectionIsClosedAndLogged) {
  UniqueSocket listener = Listen(0);
  UniqueSocket client = Connect(0, listener.Get());
  ThreadRecycler threads(
      [](ThreadJob) { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
      1, 0ms);
  LogJournal journal;
  StartConnectionThread(AcceptConnection(listener.Get()), threads, journal, [](SOCKET) {});
  EXPECT_EQ(ReadAll(client.Get()), "");
  EXPECT_NE(journal.ReadLogJournal().rfind("Control connection dropped: no thread could be started"),
            std::string::npos);
}

// Without its receive time-out a silent client would hold the thread for ever.
TEST_F(ControlServerTest, ConnectionWithoutReceiveTimeoutIsClosedUnanswered) {
  UniqueSocket listener = Listen(0);
  UniqueSocket client = Connect(0, listener.Get());
  SendPing(client.Get());
  ServeConnection(AcceptConnection(listener.Get()), kPingRoutes, RefuseOption<SO_RCVTIMEO>);
  EXPECT_EQ(ReadAll(client.Get()), "");
}

}  // namespace
}  // namespace pelno
