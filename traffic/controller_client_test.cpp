#include "traffic/controller_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/testing/loopback_socket.h"

namespace pelno {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ControllerGetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(winsock.started); }
  testing::WinsockSession winsock;
};

// Each responder accepts one connection, reads the request, sends its script and
// keeps the connection open until the client closes it, like the engine's streams.
TEST_F(ControllerGetTest, StopsAsSoonAsTheReplyIsComplete) {
  const std::string kTraffic =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
      "17\r\n{\"up\":1024,\"down\":2048}\r\n";
  const struct {
    const char* what;
    std::string script;
    bool received;
    std::chrono::milliseconds atLeast, below;
  } cases[] = {
      {"rate stream", kTraffic, true, {}, 600ms},
      {"empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true, {}, 600ms},
      {"capitals and spaces", "HTTP/1.1 200 OK\r\nCONTENT-LENGTH:   5\r\n\r\nhello", true, {}, 600ms},
      // One receive time-out, not one per call of send and receive.
      {"silent peer", "", false, 1000ms, 2000ms},
  };
  for (const auto& c : cases) {
    std::uint16_t port = 0;
    UniqueSocket listener = testing::ListenOnLoopback(port);
    ASSERT_TRUE(listener) << c.what;
    std::string request;
    std::thread responder([&] {
      UniqueSocket peer(::accept(listener.Get(), nullptr, nullptr));
      char chunk[512];
      for (int n; request.find("\r\n\r\n") == std::string::npos &&
                  (n = ::recv(peer.Get(), chunk, sizeof chunk, 0)) > 0;)
        request.append(chunk, n);
      if (!c.script.empty()) ::send(peer.Get(), c.script.data(), static_cast<int>(c.script.size()), 0);
      while (::recv(peer.Get(), chunk, sizeof chunk, 0) > 0) continue;
    });

    std::string reply = "stale";
    const auto start = Clock::now();
    const bool received = ControllerGet(port, "/traffic", kControllerTimeoutMs, reply);
    const auto elapsed = Clock::now() - start;
    responder.join();

    EXPECT_EQ(request, "GET /traffic HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n") << c.what;
    EXPECT_EQ(received, c.received) << c.what;
    EXPECT_EQ(reply, c.script) << c.what;
    EXPECT_GE(elapsed, c.atLeast) << c.what;
    EXPECT_LT(elapsed, c.below) << c.what;
  }
}

TEST_F(ControllerGetTest, FailsAtOnceWithoutListener) {
  std::uint16_t port = 0;
  {
    UniqueSocket listener = testing::ListenOnLoopback(port);  // closed again: nothing listens on `port`
    ASSERT_TRUE(listener);
  }
  std::string reply;
  const auto start = Clock::now();
  EXPECT_FALSE(ControllerGet(port, "/traffic", kControllerTimeoutMs, reply));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kControllerTimeoutMs));
  EXPECT_TRUE(reply.empty());
}

}  // namespace
}  // namespace pelno
