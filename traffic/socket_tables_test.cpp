#include "traffic/socket_tables.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace pelno {
namespace {

// A UDP socket that Wine binds to 127.0.0.2 is bound to any address on the host
// (Wine's interface binding), so the real table is checked with an established TCP
// connection to 127.0.0.2: the client's row carries it as the remote address.
TEST(SocketTablesTest, ListsAnEstablishedConnectionToAnotherLoopbackAddress) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
  int length = sizeof address;
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.Get(), 1), 0);
  ASSERT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  ASSERT_EQ(::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  UniqueSocket server(::accept(listener.Get(), nullptr, nullptr));
  ASSERT_TRUE(server);

  SocketCollector collector(ProcessDisplayName);
  CollectTcp4(collector);
  const std::string entry = "\"method\":\"TCP\",\"host\":\"127.0.0.2:" +
                            std::to_string(::ntohs(address.sin_port)) + "\"}";
  EXPECT_NE(collector.Entries().find(entry), std::string::npos) << collector.Entries();
  server.Reset();
  client.Reset();
  listener.Reset();
  ::WSACleanup();
}

TEST(SocketTablesTest, NamesAProcessByItsProgramFileOrItsId) {
  EXPECT_EQ(ProcessDisplayName(::GetCurrentProcessId()), "traffic_win_test.exe");
  EXPECT_EQ(ProcessDisplayName(0), "pid-0");  // the idle process can't be opened
}

}  // namespace
}  // namespace pelno
