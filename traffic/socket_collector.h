// Socket rows from the system's endpoint tables turned into the process entries of
// one traffic snapshot: filtered, deduplicated, capped and written as JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace pelno {

// Entries per snapshot, across all tables.
inline constexpr std::size_t kMaxSocketEntries = 80;

// The state of one snapshot's process list; make a fresh one per snapshot.
class SocketCollector {
 public:
  // Names the owning process of an accepted row (the real one is ProcessDisplayName).
  using ProcessNamer = std::function<std::string(std::uint32_t pid)>;

  explicit SocketCollector(ProcessNamer namer) : namer_(std::move(namer)) {}

  // The accepted entries, comma-separated, without the enclosing brackets.
  const std::string& Entries() const { return entries_; }
  std::size_t EntryCount() const { return entryCount_; }

 private:
  friend void OfferSocketRow(SocketCollector&, std::uint32_t, std::string_view, std::string_view,
                             std::uint16_t);

  ProcessNamer namer_;
  std::unordered_set<std::string> seen_;
  std::size_t entryCount_ = 0;
  std::string entries_;
};

// Drops the row when the cap is reached (before anything else is done), when the
// address is empty, "0.0.0.0", "::", "127.0.0.1" or "::1", or when the same pid,
// protocol, address and port were offered before; otherwise appends its entry.
// `protocol` is "TCP" or "UDP"; `port` is in host byte order.
void OfferSocketRow(SocketCollector& collector, std::uint32_t pid, std::string_view protocol,
                    std::string_view address, std::uint16_t port);

}  // namespace pelno
