// Who may drive the helper. Every local process can reach the control port, and
// the helper acts with its own rights (LocalSystem as a service), so for every
// request but GET /ping it finds the process at the other end of the connection
// and decides from that process's token: LocalSystem, members of Administrators
// with the group enabled (deny-only marks a token Windows stripped on purpose: a
// network logon, a restricted token) and the user signed in to the session the
// process runs in (their own filtered token included) may; AppContainers, integrity
// below medium, processes that cannot be found or opened and a process created
// after the connection (the connection's own process has ended and its id was
// given to another) may not.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/mutex.h"

namespace pelno {

class LogJournal;

inline constexpr std::string_view kLocalSystemSid = "S-1-5-18";
inline constexpr std::string_view kAdministratorsSid = "S-1-5-32-544";
inline constexpr std::uint32_t kGroupEnabled = 0x4;     // SE_GROUP_ENABLED
inline constexpr std::uint32_t kMediumIntegrity = 0x2000;  // SECURITY_MANDATORY_MEDIUM_RID

// What the decision needs of a process's token. SIDs are in their text form.
struct CallerToken {
  struct Group {
    std::string sid;
    std::uint32_t attributes = 0;  // SE_GROUP_* bits
  };
  std::string userSid;
  std::vector<Group> groups;
  std::uint32_t integrity = 0;  // the integrity level's RID
  bool appContainer = false;
  std::uint32_t sessionId = 0;
  std::string sessionUserSid;  // the user signed in to that session; empty for none
};

// The process at the other end of a connection, as far as it could be known.
struct Caller {
  enum class Found {
    kToken,          // the process and its token were read
    kOwnerUnknown,   // the socket table names no owner (process id 0: Wine's tables)
    kNoProcess,      // no row of the socket table is this connection
    kNotOpened,      // the process or its token could not be opened or read
  };
  Found found = Found::kNoProcess;
  std::uint32_t processId = 0;
  CallerToken token;  // with kToken
  // Creation times in 100 ns units since 1601 (FILETIME), with kToken; 0 unknown.
  std::uint64_t connectionCreated = 0;  // the socket table's row
  std::uint64_t processCreated = 0;     // the process now holding the row's owner id
};

enum class CallerVerdict { kAllowed, kAllowedOwnerUnknown, kRefused };

// The decision. `ownersUnknowable`: the socket tables never name an owner nor a
// connection's creation time reliably here (Wine), so a caller the table does not
// name (owner 0, or no row at all) is allowed, and one named without a time is
// judged by its token; on Windows both are refused.
CallerVerdict DecideCaller(const Caller& caller, bool ownersUnknowable);

// The connection's far end: IPv4 address as in sockaddr_in (network byte order),
// port in host byte order.
struct PeerEndpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Finds the process connected from `peer` to the control port; the real one reads
// the system's TCP table and the process's token (server/win32_caller_lookup.h).
class CallerLookup {
 public:
  virtual ~CallerLookup() = default;
  virtual Caller Find(const PeerEndpoint& peer) = 0;
};

// Refusal line, at most one a second whatever the number of refused connections.
inline constexpr std::chrono::seconds kCallerRefusalLogInterval{1};

// Applies the decision to requests and logs it; shared by all connection threads.
class CallerGate {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  CallerGate(CallerLookup& lookup, LogJournal& journal, bool ownersUnknowable, Clock clock);
  CallerGate(const CallerGate&) = delete;
  CallerGate& operator=(const CallerGate&) = delete;

  // Whether a request may be served. GET /ping (which provisioning needs before
  // anything is known) always may, without a look-up; for any other request the
  // caller is found through `peer` (empty when the endpoint cannot be read).
  bool Admits(std::string_view method, std::string_view path,
              const std::function<std::optional<PeerEndpoint>()>& peer);

 private:
  CallerLookup& lookup_;
  LogJournal& journal_;
  const bool ownersUnknowable_;
  Clock clock_;
  Mutex mutex_;
  std::optional<std::chrono::steady_clock::time_point> lastRefusalLogged_ GUARDED_BY(mutex_);
  bool unknownOwnersLogged_ GUARDED_BY(mutex_) = false;
};

}  // namespace pelno
