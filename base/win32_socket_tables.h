// The system's TCP and UDP endpoint tables (GetExtendedTcpTable /
// GetExtendedUdpTable), read whole, and a walk over their rows.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstddef>
#include <vector>

namespace pelno {

// One table of `tableClass` for `family` (AF_INET or AF_INET6). The table can grow
// between the size query and the read, so the buffer grows and the read is tried
// again a few times. Empty when the table can't be read.
std::vector<unsigned char> ReadTcpTable(ULONG family, TCP_TABLE_CLASS tableClass);
std::vector<unsigned char> ReadUdpTable(ULONG family, UDP_TABLE_CLASS tableClass);

// Calls `offer` for each row of a table read above whose layout is `Table`
// (dwNumEntries and table[]); rows that would lie beyond the buffer are not read.
// False when the buffer doesn't hold the table's count.
template <typename Table, typename Offer>
bool ForEachTableRow(const std::vector<unsigned char>& buffer, Offer offer) {
  constexpr std::size_t kRowsOffset = offsetof(Table, table);
  if (buffer.size() < kRowsOffset) return false;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  const std::size_t fits = (buffer.size() - kRowsOffset) / sizeof(table->table[0]);
  const std::size_t count = table->dwNumEntries < fits ? table->dwNumEntries : fits;
  for (std::size_t i = 0; i < count; ++i) offer(table->table[i]);
  return true;
}

}  // namespace pelno
