#include "server/control_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/testing/loopback_socket.h"
#include "server/log_journal.h"

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

const RouteTable kPingRoutes = {
    {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("pong"); }, nullptr}};

// The requests here are GET /ping, which no caller check looks up.
struct NoLookup : CallerLookup {
  Caller Find(const PeerEndpoint&) override {
    ADD_FAILURE() << "a caller was looked up";
    return {};
  }
};

// A listener on a free loopback port, with a client connected to it.
class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    SetupFailure failure;
    listener_ = OpenListeningSocket(0, failure, ::setsockopt);
    ASSERT_TRUE(listener_) << failure.step << " " << failure.error;
    int length = sizeof address_;
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address_), &length);
    Reconnect();
  }
  void Reconnect() {
    client_ = UniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(::connect(client_.Get(), reinterpret_cast<const sockaddr*>(&address_), sizeof address_), 0);
    const DWORD timeoutMs = 10000;  // a hung server fails the test instead of blocking it
    ::setsockopt(client_.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
  }
  void TearDown() override {
    client_.Reset();
    listener_.Reset();
    ::WSACleanup();
  }

  // A client of a ControlServer, which listens on the control port.
  static UniqueSocket ConnectToServer() {
    UniqueSocket socket = testing::ConnectToLoopback(kControlPort);
    EXPECT_TRUE(socket);
    return socket;
  }

  UniqueSocket Accept() {
    int error = 0;
    return AcceptConnection(listener_.Get(), error);
  }

  std::string ReadAll() {
    std::string received;
    char chunk[256];
    for (int n; (n = ::recv(client_.Get(), chunk, sizeof chunk, 0)) > 0;) received.append(chunk, n);
    return received;
  }

  sockaddr_in address_{};
  UniqueSocket listener_, client_;
  NoLookup noLookup_;
  LogJournal gateJournal_;
  CallerGate callers_{noLookup_, gateJournal_, false, [] { return std::chrono::steady_clock::now(); }};
};

// The engine that the helper starts must not inherit the control sockets.
TEST_F(ControlServerTest, SocketsAreNotInheritable) {
  UniqueSocket accepted = Accept();
  ASSERT_TRUE(accepted);
  for (SOCKET socket : {listener_.Get(), accepted.Get()}) {
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags));
    EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT);
  }
}

// The helper does not serve when the port is taken or an option it depends on is
// refused, and says why in one line.
TEST_F(ControlServerTest, RunLogsTheFailingStepAndReturnsOne) {
  const struct { SetSocketOption setOption; std::string line; } cases[] = {
      {::setsockopt, "Control server could not bind 127.0.0.1:17891 (Winsock error 100"},
      {RefuseOption<SO_EXCLUSIVEADDRUSE>,
       "Control server could not get exclusive use of 127.0.0.1:17891 (Winsock error 10042)"},
      {RefuseOption<SO_RCVTIMEO>, "Control server could not set a receive time-out (Winsock error 10042)"},
  };
  SetupFailure failure;
  UniqueSocket holder = OpenListeningSocket(kControlPort, failure, ::setsockopt);  // bind fails after the options
  ASSERT_TRUE(holder) << failure.step << " " << failure.error;
  for (const auto& c : cases) {
    LogJournal journal;
    ControlServer server(kPingRoutes, journal, callers_, c.setOption);
    EXPECT_EQ(server.Run([] { ADD_FAILURE() << "listening"; }), 1) << c.line;
    const std::string log = journal.ReadLogJournal();
    const std::size_t failed = log.find(c.line);
    EXPECT_LT(log.find("] PelnoVpnHelper started\r\n"), failed) << log;
    EXPECT_EQ(log.find("Control server", failed + 1), std::string::npos) << log;  // one line
  }
}

// Stop ends Run at once, whether it comes before Run, while one thread waits in
// accept, or after answering clients side by side has left several threads there.
TEST_F(ControlServerTest, StopEndsRunBeforeOrDuringItsWait) {
  enum class When { kBeforeRun, kOneAccepting, kSeveralAccepting };
  for (const When when : {When::kBeforeRun, When::kOneAccepting, When::kSeveralAccepting}) {
    LogJournal journal;
    ControlServer server(kPingRoutes, journal, callers_, ::setsockopt);
    std::atomic<std::chrono::steady_clock::time_point> stopped{std::chrono::steady_clock::now()};
    const auto stop = [&] {
      stopped = std::chrono::steady_clock::now();
      server.Stop();
    };
    if (when == When::kBeforeRun) stop();
    std::thread stopping;
    const auto whenListening = [&] {
      if (when == When::kBeforeRun) return;
      stopping = std::thread([&, clients = when == When::kSeveralAccepting ? 4 : 0] {
        std::vector<UniqueSocket> sockets;
        for (int i = 0; i < clients; ++i) sockets.push_back(ConnectToServer());  // each held by a thread

        std::this_thread::sleep_for(200ms);
        for (UniqueSocket& socket : sockets) ::send(socket.Get(), "GET /ping HTTP/1.1\r\n\r\n", 22, 0);
        for (UniqueSocket& socket : sockets) {
          char reply[512];
          EXPECT_GT(::recv(socket.Get(), reply, sizeof reply, 0), 0);
        }
        stop();
      });
    };
    EXPECT_EQ(server.Run(whenListening), 0) << static_cast<int>(when) << "\n" << journal.ReadLogJournal();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped.load(), kAcceptRetryInterval) << static_cast<int>(when);
    if (stopping.joinable()) stopping.join();
  }
}

// After a stop the answer being written goes out before the process may end, and a
// client that has sent nothing is closed at once rather than waited for.
TEST_F(ControlServerTest, AfterAStopAnswersGoOutAndSilentClientsAreClosed) {
  std::promise<void> entered;
  const RouteTable slowPing = {{"GET", "/ping", kTextPlain, [&entered](const ControlRequest&) {
                                  entered.set_value();
                                  std::this_thread::sleep_for(300ms);
                                  return std::string("pong");
                                }, nullptr}};
  LogJournal journal;
  ControlServer server(slowPing, journal, callers_, ::setsockopt);
  UniqueSocket silent, asking;
  std::thread client;
  EXPECT_EQ(server.Run([&] {
    client = std::thread([&] {
      silent = ConnectToServer();
      asking = ConnectToServer();
      ::send(asking.Get(), "GET /ping HTTP/1.1\r\n\r\n", 22, 0);
      entered.get_future().wait();
      server.Stop();
    });
  }), 0);
  client.join();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(server.FinishAnswers());
  EXPECT_LT(std::chrono::steady_clock::now() - started, kAnswersAtStopBound);
  u_long nonBlocking = 1;
  ::ioctlsocket(asking.Get(), FIONBIO, &nonBlocking);
  char reply[512];
  const int received = ::recv(asking.Get(), reply, sizeof reply, 0);  // already there
  ASSERT_GT(received, 0) << ::WSAGetLastError();
  EXPECT_NE(std::string(reply, received).find("\r\n\r\npong"), std::string::npos);
  EXPECT_LE(::recv(silent.Get(), reply, sizeof reply, 0), 0);
}

TEST_F(ControlServerTest, WithoutAThreadTheJobIsDroppedAndLogged) {
  ThreadRecycler threads(
      [](ThreadJob) { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
      1, 0ms);
  LogJournal journal;
  EXPECT_FALSE(StartOnAnotherThread(threads, journal, [] { ADD_FAILURE() << "ran"; }));
  EXPECT_NE(journal.ReadLogJournal().rfind("Control connection dropped: no thread could be started"),
            std::string::npos);
}

// Without its receive time-out a silent client would hold the thread for ever; without
// its send time-out, a client that never reads would hold it as long.
TEST_F(ControlServerTest, ConnectionWithoutEitherTimeoutIsClosedUnanswered) {
  for (SetSocketOption refuse : {RefuseOption<SO_RCVTIMEO>, RefuseOption<SO_SNDTIMEO>}) {
    ::send(client_.Get(), "GET /ping HTTP/1.1\r\n\r\n", 22, 0);
    ConnectionServices services{kPingRoutes, callers_, refuse};
    ConnectionTable::Admission admission;
    auto place = services.connections.Admit([] {}, admission);
    HandleControlConnection(Accept(), *place, services);
    EXPECT_EQ(ReadAll(), "");
    EXPECT_EQ(services.connections.size(), 0u);
    Reconnect();
  }
}

// A connection closed to make room for another stops waiting for its request at
// once (not at the idle limit) and leaves without a response.
TEST_F(ControlServerTest, InterruptedConnectionEndsAtOnceUnanswered) {
  ::send(client_.Get(), "GET /ping HTTP/1.1\r\n", 20, 0);
  ConnectionServices services{kPingRoutes, callers_, ::setsockopt};
  UniqueSocket accepted = Accept();
  const SOCKET socket = accepted.Get();
  ConnectionTable table(1);
  ConnectionTable::Admission admission;
  auto place = table.Admit([socket] { InterruptConnection(socket); }, admission);
  std::thread serving([&] { HandleControlConnection(std::move(accepted), *place, services); });
  std::this_thread::sleep_for(200ms);  // the read waits for the rest of the request
  const auto interrupted = std::chrono::steady_clock::now();
  auto newcomer = table.Admit([] {}, admission);
  EXPECT_EQ(admission, ConnectionTable::Admission::kAdmittedInPlace);
  serving.join();
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, kConnectionIdleTimeout / 10);
  EXPECT_EQ(ReadAll(), "");
}

}  // namespace
}  // namespace pelno
