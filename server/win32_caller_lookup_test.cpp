#include "server/win32_caller_lookup.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include "base/running_under_wine.h"
#include "base/unique_handle.h"

namespace pelno {
namespace {

std::uint64_t Now() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// A loopback connection's client end is found in the system's table: Wine names no
// owner (0) nor time, Windows this process and when the connection was made.
TEST(Win32CallerLookupTest, TheClientEndOfALoopbackConnectionIsFound) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  {
    UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    int length = sizeof address;
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.Get(), 1), 0);
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t serverPort = ::ntohs(address.sin_port);
    UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_EQ(::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    sockaddr_in clientEnd{};
    length = sizeof clientEnd;
    ::getsockname(client.Get(), reinterpret_cast<sockaddr*>(&clientEnd), &length);
    const PeerEndpoint peer{clientEnd.sin_addr.s_addr, ::ntohs(clientEnd.sin_port)};

    const auto owner = FindConnectionOwner(peer, serverPort);
    ASSERT_TRUE(owner.has_value());
    EXPECT_TRUE(owner->processId == 0 || owner->processId == ::GetCurrentProcessId()) << owner->processId;
    if (!RunningUnderWine()) {
      EXPECT_EQ(owner->processId, ::GetCurrentProcessId());
      EXPECT_GT(owner->created, DescribeProcess(owner->processId).processCreated);
      EXPECT_LE(owner->created, Now());
    }
    EXPECT_FALSE(FindConnectionOwner(peer, static_cast<std::uint16_t>(serverPort + 1)).has_value());
    EXPECT_FALSE(FindConnectionOwner({peer.address, static_cast<std::uint16_t>(peer.port + 1)}, serverPort));
  }
  ::WSACleanup();
}

// This test's own process, read through its token, is a caller the helper serves
// (an administrator under Wine, the signed-in user on a desktop) on a connection
// made now, and not on one made before it started.
TEST(Win32CallerLookupTest, ThisProcessIsDescribedAndAllowed) {
  Caller self = DescribeProcess(::GetCurrentProcessId());
  ASSERT_EQ(self.found, Caller::Found::kToken);
  ASSERT_NE(self.processCreated, 0u);
  self.connectionCreated = self.processCreated - 1;
  EXPECT_EQ(DecideCaller(self, false), CallerVerdict::kRefused);
  self.connectionCreated = Now();
  EXPECT_EQ(self.token.userSid.rfind("S-1-5-", 0), 0u) << self.token.userSid;
  EXPECT_FALSE(self.token.groups.empty());
  EXPECT_GE(self.token.integrity, kMediumIntegrity);
  EXPECT_EQ(DecideCaller(self, false), CallerVerdict::kAllowed)
      << self.token.userSid << " session " << self.token.sessionId << " of " << self.token.sessionUserSid;
  EXPECT_EQ(DescribeProcess(0xFFFFFFF0u).found, Caller::Found::kNotOpened);  // no such process
}

}  // namespace
}  // namespace pelno
