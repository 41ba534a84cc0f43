// The caller look-up on Windows: the owner of the connection in the system's TCP
// table, then that process's token and its session's user.
#pragma once

#include <cstdint>
#include <optional>

#include "server/caller_check.h"

namespace pelno {

class Win32CallerLookup : public CallerLookup {
 public:
  explicit Win32CallerLookup(std::uint16_t serverPort) : serverPort_(serverPort) {}
  Caller Find(const PeerEndpoint& peer) override;

 private:
  std::uint16_t serverPort_;
};

// A connection's row: its owner's process id and when it was made (FILETIME units).
struct ConnectionOwner {
  std::uint32_t processId = 0;
  std::uint64_t created = 0;
};

// The IPv4 row whose local end is `peer` and whose remote end is
// 127.0.0.1:`serverPort` (TCP_TABLE_OWNER_MODULE_CONNECTIONS); nothing without one.
std::optional<ConnectionOwner> FindConnectionOwner(const PeerEndpoint& peer, std::uint16_t serverPort);

// The token and creation time of process `processId` (kToken), or kNotOpened when
// the process, its times, its token or one of the token's facts cannot be read.
Caller DescribeProcess(std::uint32_t processId);

}  // namespace pelno
