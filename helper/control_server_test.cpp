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

// A listener on an ephemeral loopback port, and clients connected to it.
class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    int error = 0;
    listener_ = OpenListeningSocket(0, error);
    ASSERT_TRUE(listener_) << "WSA error " << error;
    sockaddr_in address{};
    int length = sizeof address;
    ASSERT_EQ(::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    address_ = address;
  }
  void TearDown() override {
    listener_.Reset();
    ::WSACleanup();
  }

  UniqueSocket Connect() {
    UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_EQ(::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address_), sizeof address_),
              0);
    const DWORD timeoutMs = 10000;  // a hung server fails the test instead of blocking it
    ::setsockopt(client.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                 sizeof timeoutMs);
    return client;
  }

  static bool IsInheritable(SOCKET socket) {
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags));
    return (flags & HANDLE_FLAG_INHERIT) != 0;
  }

  UniqueSocket listener_;
  sockaddr_in address_{};
};

// With plain SO_REUSEADDR another local process could bind the control port too;
// an inheritable socket would leak into the engine the helper starts.
TEST_F(ControlServerTest, ListenerIsExclusiveOnLoopbackAndSocketsAreNotInheritable) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address_.sin_addr, text, sizeof text);
  EXPECT_STREQ(text, "127.0.0.1");
  EXPECT_NE(address_.sin_port, 0);
  EXPECT_FALSE(IsInheritable(listener_.Get()));
  int exclusive = 0;
  int length = sizeof exclusive;
  ASSERT_EQ(::getsockopt(listener_.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                         reinterpret_cast<char*>(&exclusive), &length),
            0);
  EXPECT_NE(exclusive, 0);
  UniqueSocket client = Connect();
  UniqueSocket accepted = AcceptConnection(listener_.Get());
  ASSERT_TRUE(accepted);
  EXPECT_FALSE(IsInheritable(accepted.Get()));
}

// A socket that holds 127.0.0.1:port so that no other socket can bind it.
UniqueSocket HoldPort(std::uint16_t port) {
  UniqueSocket holder(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const int exclusive = 1;
  ::setsockopt(holder.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  EXPECT_EQ(::bind(holder.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(holder.Get(), 1), 0);
  return holder;
}

TEST_F(ControlServerTest, BindFailureReportsTheWinsockError) {
  listener_.Reset();
  UniqueSocket holder = HoldPort(::ntohs(address_.sin_port));
  int error = 0;
  EXPECT_FALSE(OpenListeningSocket(::ntohs(address_.sin_port), error));
  EXPECT_TRUE(error == WSAEADDRINUSE || error == WSAEACCES) << error;
}

TEST_F(ControlServerTest, RunReturnsOneWhenThePortIsTaken) {
  UniqueSocket holder = HoldPort(kControlPort);
  LogJournal journal;
  const RouteTable routes;
  ControlServer server(routes, journal);
  EXPECT_EQ(server.Run(), 1);
  // The start line is logged before the set-up is tried.
  EXPECT_NE(journal.ReadLogJournal().find("] PelnoVpnHelper started\r\n"), std::string::npos);
}

// A stop from another thread ends the accepting and frees the port; a connection
// accepted before it is still answered.
TEST_F(ControlServerTest, StopEndsRunAndReleasesThePort) {
  LogJournal journal;
  const RouteTable routes = {{"GET", "/ping", kTextPlain,
                              [](const ControlRequest&) { return std::string("pong"); }, nullptr}};
  ControlServer server(routes, journal);
  int result = -1;
  std::thread running([&] { result = server.Run(); });
  sockaddr_in control = address_;
  control.sin_port = ::htons(kControlPort);
  UniqueSocket client;
  for (int attempt = 0; attempt < 100 && !client; ++attempt) {
    UniqueSocket candidate(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (::connect(candidate.Get(), reinterpret_cast<const sockaddr*>(&control), sizeof control) == 0)
      client = std::move(candidate);
    else
      std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(client);
  std::this_thread::sleep_for(200ms);  // accepted, its thread waits for the request
  server.Stop();
  running.join();
  EXPECT_EQ(result, 0);
  const std::string request = "GET /ping HTTP/1.1\r\n\r\n";
  ::send(client.Get(), request.data(), static_cast<int>(request.size()), 0);
  char reply[256] = {};
  const DWORD timeoutMs = 10000;
  ::setsockopt(client.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);
  std::string received;
  for (int n; (n = ::recv(client.Get(), reply, sizeof reply, 0)) > 0;) received.append(reply, n);
  EXPECT_TRUE(received.size() >= 4 && received.compare(received.size() - 4, 4, "pong") == 0)
      << received;
  int error = 0;
  EXPECT_TRUE(OpenListeningSocket(kControlPort, error)) << error;
}

TEST_F(ControlServerTest, WithoutAThreadTheConnectionIsClosedAndLogged) {
  UniqueSocket client = Connect();
  bool asked = false;
  ThreadRecycler threads(
      [&asked](ThreadJob) {
        asked = true;
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      },
      1, 0ms);
  LogJournal journal;
  StartConnectionThread(AcceptConnection(listener_.Get()), threads, journal, [](SOCKET) {});
  EXPECT_TRUE(asked);
  const std::string request = "GET /ping HTTP/1.1\r\n\r\n";
  ::send(client.Get(), request.data(), static_cast<int>(request.size()), 0);
  // Closed by the server at once: the client sees the end (or a reset), never a response.
  std::string received;
  char chunk[256];
  int n;
  while ((n = ::recv(client.Get(), chunk, sizeof chunk, 0)) > 0) received.append(chunk, n);
  EXPECT_TRUE(n == 0 || ::WSAGetLastError() == WSAECONNRESET) << ::WSAGetLastError();
  EXPECT_EQ(received, "");
  EXPECT_NE(journal.ReadLogJournal().rfind("Control connection dropped: no thread could be started"),
            std::string::npos);
}

}  // namespace
}  // namespace pelno
