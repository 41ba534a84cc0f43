#include "server/caller_check.h"

#include <algorithm>

#include "server/log_journal.h"

namespace pelno {

CallerVerdict DecideCaller(const Caller& caller, bool ownersUnknowable) {
  switch (caller.found) {
    // Where owners are unknowable the table is no witness either way: Wine's also
    // leaves out connections its client has half closed.
    case Caller::Found::kOwnerUnknown:
    case Caller::Found::kNoProcess:
      return ownersUnknowable ? CallerVerdict::kAllowedOwnerUnknown : CallerVerdict::kRefused;
    case Caller::Found::kNotOpened:
      return CallerVerdict::kRefused;
    case Caller::Found::kToken:
      break;
  }
  // A process younger than the connection did not make it: the id was reused.
  // Without the connection's time nothing ties the process to it, except where the
  // tables never give one (Wine, which names some owners all the same).
  const bool reused = caller.connectionCreated == 0
                          ? !ownersUnknowable
                          : caller.processCreated == 0 || caller.processCreated > caller.connectionCreated;
  if (reused) return CallerVerdict::kRefused;
  const CallerToken& token = caller.token;
  if (token.appContainer || token.integrity < kMediumIntegrity) return CallerVerdict::kRefused;
  if (token.userSid == kLocalSystemSid) return CallerVerdict::kAllowed;
  const bool administrator = std::any_of(token.groups.begin(), token.groups.end(), [](const auto& group) {
    return group.sid == kAdministratorsSid && (group.attributes & kGroupEnabled) != 0;
  });
  if (administrator) return CallerVerdict::kAllowed;
  const bool sessionUser =
      token.sessionId != 0 && !token.sessionUserSid.empty() && token.sessionUserSid == token.userSid;
  return sessionUser ? CallerVerdict::kAllowed : CallerVerdict::kRefused;
}

CallerGate::CallerGate(CallerLookup& lookup, LogJournal& journal, bool ownersUnknowable, Clock clock)
    : lookup_(lookup), journal_(journal), ownersUnknowable_(ownersUnknowable), clock_(std::move(clock)) {}

bool CallerGate::Admits(std::string_view method, std::string_view path,
                        const std::function<std::optional<PeerEndpoint>()>& peer) {
  if (method == "GET" && path == "/ping") return true;
  const std::optional<PeerEndpoint> endpoint = peer();
  const Caller caller = endpoint ? lookup_.Find(*endpoint) : Caller{};
  const CallerVerdict verdict = DecideCaller(caller, ownersUnknowable_);
  MutexLock lock(mutex_);
  if (verdict == CallerVerdict::kAllowedOwnerUnknown && !unknownOwnersLogged_) {
    journal_.AppendLog("Caller check unavailable: socket owners are unknown");
    unknownOwnersLogged_ = true;
  }
  if (verdict != CallerVerdict::kRefused) return true;
  const auto now = clock_();
  if (!lastRefusalLogged_ || now - *lastRefusalLogged_ >= kCallerRefusalLogInterval) {
    journal_.AppendLog("Control request refused: process " + std::to_string(caller.processId) +
                       " is not run by a user signed in at this machine");
    lastRefusalLogged_ = now;
  }
  return false;
}

}  // namespace pelno
