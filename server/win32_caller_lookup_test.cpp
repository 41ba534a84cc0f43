#include "server/win32_caller_lookup.h"

#include <gtest/gtest.h>

#include "base/running_under_wine.h"
#include "base/testing/loopback_socket.h"

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
  testing::WinsockSession winsock;
  ASSERT_TRUE(winsock.started);
  std::uint16_t serverPort = 0;
  const UniqueSocket listener = testing::ListenOnLoopback(serverPort);
  const UniqueSocket client = testing::ConnectToLoopback(serverPort);
  ASSERT_TRUE(listener && client);
  sockaddr_in clientEnd{};
  int length = sizeof clientEnd;
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
