#include "traffic/socket_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "base/testing/loopback_socket.h"

namespace pelno {
namespace {

// A UDP socket that Wine binds to 127.0.0.2 is bound to any address on the host
// (Wine's interface binding), so the real table is checked with an established TCP
// connection to 127.0.0.2: the client's row carries it as the remote address.
TEST(SocketTablesTest, ListsAnEstablishedConnectionToAnotherLoopbackAddress) {
  testing::WinsockSession winsock;
  ASSERT_TRUE(winsock.started);
  std::uint16_t port = 0;
  UniqueSocket listener = testing::ListenOnLoopback(port, "127.0.0.2");
  UniqueSocket client = testing::ConnectToLoopback(port, "127.0.0.2");
  ASSERT_TRUE(listener && client);
  UniqueSocket server(::accept(listener.Get(), nullptr, nullptr));
  ASSERT_TRUE(server);

  SocketCollector collector(ProcessDisplayName);
  CollectTcp4(collector);
  const std::string entry = "\"method\":\"TCP\",\"host\":\"127.0.0.2:" + std::to_string(port) + "\"}";
  EXPECT_NE(collector.Entries().find(entry), std::string::npos) << collector.Entries();
}

TEST(SocketTablesTest, NamesAProcessByItsProgramFileOrItsId) {
  EXPECT_EQ(ProcessDisplayName(::GetCurrentProcessId()), "traffic_win_test.exe");
  EXPECT_EQ(ProcessDisplayName(0), "pid-0");  // the idle process can't be opened
}

}  // namespace
}  // namespace pelno
