#include "server/caller_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/log_journal.h"

namespace pelno {
namespace {

using namespace std::chrono_literals;
using Found = Caller::Found;

constexpr std::string_view kUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr std::string_view kOther = "S-1-5-21-1004336348-1177238915-682003330-1002";
constexpr std::string_view kNetworkService = "S-1-5-20";
constexpr std::uint32_t kLow = 0x1000, kMedium = kMediumIntegrity, kHigh = 0x3000, kSystem = 0x4000;
constexpr std::uint32_t kGroupMandatory = 0x1;  // present, neither enabled nor deny-only
constexpr std::uint32_t kGroupDenyOnly = 0x10;   // SE_GROUP_USE_FOR_DENY_ONLY
constexpr auto kAllowed = CallerVerdict::kAllowed, kRefused = CallerVerdict::kRefused;
constexpr std::uint64_t kConnected = 133500000000000000;  // FILETIME of a connection (early 2024)
constexpr std::uint64_t kSecond = 10000000;

// A process with a token of `user`, in `session` whose signed-in user is
// `sessionUser`, a member of Users and, unless `administrators` is 0, of
// Administrators with those group attributes; made a minute before its connection.
Caller Token(std::string_view user, std::uint32_t session, std::string_view sessionUser,
             std::uint32_t integrity = kMedium, std::uint32_t administrators = 0, bool appContainer = false) {
  Caller caller{Found::kToken, 4242, {std::string(user), {{"S-1-5-32-545", kGroupEnabled | kGroupMandatory}},
                                      integrity, appContainer, session, std::string(sessionUser)},
                kConnected, kConnected - 60 * kSecond};
  if (administrators != 0) caller.token.groups.push_back({std::string(kAdministratorsSid), administrators});
  return caller;
}

// `caller` with these creation times.
Caller Created(Caller caller, std::uint64_t connection, std::uint64_t process) {
  caller.connectionCreated = connection;
  caller.processCreated = process;
  return caller;
}

TEST(DecideCallerTest, EachKindOfCaller) {
  const struct {
    const char* kind;
    Caller caller;
    CallerVerdict onWindows;
    CallerVerdict underWine;  // socket owners unknowable
  } cases[] = {
      {"the user signed in to the process's session", Token(kUser, 1, kUser), kAllowed, kAllowed},
      {"LocalSystem in session 0", Token(kLocalSystemSid, 0, "", kSystem), kAllowed, kAllowed},
      // Another account's administrator: the group alone decides.
      {"an administrator, group enabled", Token(kOther, 1, kUser, kMedium, kGroupEnabled | kGroupMandatory),
       kAllowed, kAllowed},
      // Deny-only: Windows stripped the group (a network logon, a restricted token).
      {"another account's token with Administrators deny-only",
       Token(kOther, 1, kUser, kMedium, kGroupDenyOnly | kGroupMandatory), kRefused, kRefused},
      {"the signed-in user's own filtered token", Token(kUser, 1, kUser, kMedium, kGroupDenyOnly), kAllowed,
       kAllowed},
      {"an elevated administrator", Token(kOther, 1, kUser, kHigh, kGroupEnabled), kAllowed, kAllowed},
      {"Administrators neither enabled nor deny-only", Token(kOther, 1, kUser, kMedium, kGroupMandatory),
       kRefused, kRefused},
      {"a runas process of another user inside the user's session", Token(kOther, 1, kUser), kRefused,
       kRefused},
      {"a service account in session 0", Token(kNetworkService, 0, "", kSystem), kRefused, kRefused},
      {"the user's own process in session 0", Token(kUser, 0, kUser), kRefused, kRefused},
      {"a session nobody is signed in to", Token(kUser, 1, ""), kRefused, kRefused},
      {"an AppContainer of the user", Token(kUser, 1, kUser, kMedium, 0, true), kRefused, kRefused},
      {"the user at low integrity", Token(kUser, 1, kUser, kLow), kRefused, kRefused},
      {"an administrator at low integrity", Token(kOther, 1, kUser, kLow, kGroupEnabled), kRefused, kRefused},
      {"an unknown process (owner id 0)", Caller{Found::kOwnerUnknown, 0, {}}, kRefused,
       CallerVerdict::kAllowedOwnerUnknown},
      {"no row of the table is the connection", Caller{Found::kNoProcess, 0, {}}, kRefused,
       CallerVerdict::kAllowedOwnerUnknown},
      {"a process that cannot be opened", Caller{Found::kNotOpened, 77, {}}, kRefused, kRefused},
      {"a process started in the tick its connection was made",
       Created(Token(kUser, 1, kUser), kConnected, kConnected), kAllowed, kAllowed},
      // The connection's process has ended (a child goes on with the inherited socket)
      // and its id now names another process.
      {"the user's process created after the connection",
       Created(Token(kUser, 1, kUser), kConnected, kConnected + 1), kRefused, kRefused},
      {"LocalSystem's process created after the connection",
       Created(Token(kLocalSystemSid, 0, "", kSystem), kConnected, kConnected + kSecond), kRefused, kRefused},
      // Wine names some owners, never a time.
      {"a connection the table gives no creation time", Created(Token(kUser, 1, kUser), 0, kConnected),
       kRefused, kAllowed},
      {"no creation time, the process not the user's", Created(Token(kOther, 1, kUser), 0, kConnected),
       kRefused, kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideCaller(c.caller, false), c.onWindows) << c.kind;
    EXPECT_EQ(DecideCaller(c.caller, true), c.underWine) << c.kind;
  }
}

struct FakeLookup : CallerLookup {
  Caller Find(const PeerEndpoint& peer) override {
    peers.push_back(peer.port);
    return caller;
  }
  Caller caller;
  std::vector<std::uint16_t> peers;
};

struct CallerGateTest : ::testing::Test {
  bool Ask(CallerGate& gate, std::string_view method, std::string_view path) {
    return gate.Admits(method, path, [] { return PeerEndpoint{0x0100007f, 50123}; });
  }
  int Lines(std::string_view text) const {
    const std::string log = journal.ReadLogJournal();
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  FakeLookup lookup;
  LogJournal journal;
  std::chrono::steady_clock::time_point now{};
};

// GET /ping is answered without a look-up; every other request, known or not, asks.
TEST_F(CallerGateTest, EveryRequestButGetPingIsChecked) {
  CallerGate gate(lookup, journal, false, [this] { return now; });
  lookup.caller = Caller{Found::kNotOpened, 9, {}};
  EXPECT_TRUE(Ask(gate, "GET", "/ping"));
  EXPECT_TRUE(lookup.peers.empty());
  for (const auto& [method, path] : {std::pair{"POST", "/ping"}, {"GET", "/ping?x=1"}, {"GET", "/logs"},
                                     {"POST", "/start-tun"}, {"GET", "/nope"}}) {
    EXPECT_FALSE(Ask(gate, method, path)) << method << " " << path;
  }
  EXPECT_EQ(lookup.peers, std::vector<std::uint16_t>(5, 50123));
  lookup.caller = Token(kUser, 1, kUser);
  EXPECT_TRUE(Ask(gate, "POST", "/stop"));
  // A connection whose far end cannot be read is refused.
  EXPECT_FALSE(gate.Admits("POST", "/stop", [] { return std::nullopt; }));
}

// One line per refused connection, at most one a second.
TEST_F(CallerGateTest, RefusalsAreLoggedAtMostOnceASecond) {
  CallerGate gate(lookup, journal, false, [this] { return now; });
  const std::string line =
      "] Control request refused: process 9 is not run by a user signed in at this machine\r\n";
  lookup.caller = Caller{Found::kNotOpened, 9, {}};
  EXPECT_FALSE(Ask(gate, "POST", "/stop"));
  now += 999ms;
  EXPECT_FALSE(Ask(gate, "POST", "/stop"));
  EXPECT_EQ(Lines(line), 1);
  now += 1ms;
  EXPECT_FALSE(Ask(gate, "POST", "/stop"));
  EXPECT_EQ(Lines(line), 2);
  lookup.caller = Caller{Found::kOwnerUnknown, 0, {}};  // on Windows an unknown owner is refused
  now += 1s;
  EXPECT_FALSE(Ask(gate, "GET", "/logs"));
  EXPECT_EQ(Lines("] Control request refused: process 0 is not run"), 1);
}

// Under Wine no socket has a known owner: such callers are allowed, said once.
TEST_F(CallerGateTest, UnknownOwnersAreAllowedWhereTheyAreUnknowableSaidOnce) {
  CallerGate gate(lookup, journal, true, [this] { return now; });
  lookup.caller = Caller{Found::kOwnerUnknown, 0, {}};
  EXPECT_TRUE(Ask(gate, "POST", "/stop"));
  EXPECT_TRUE(Ask(gate, "GET", "/logs"));
  EXPECT_EQ(Lines("] Caller check unavailable: socket owners are unknown\r\n"), 1);
  lookup.caller = Caller{Found::kNotOpened, 12, {}};  // a process that is known but cannot be read
  EXPECT_FALSE(Ask(gate, "GET", "/logs"));
  EXPECT_EQ(Lines("Control request refused"), 1);
}

}  // namespace
}  // namespace pelno
