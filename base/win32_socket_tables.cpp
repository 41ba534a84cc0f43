#include "base/win32_socket_tables.h"

namespace pelno {
namespace {

// Reads after the size query, each with the size the previous one asked for.
constexpr int kTableReadTries = 4;

template <typename Read>
std::vector<unsigned char> ReadGrowing(Read read) {
  std::vector<unsigned char> buffer;
  DWORD size = 0;
  DWORD result = read(nullptr, &size);
  for (int tries = 0; tries < kTableReadTries && result == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    buffer.assign(size, 0);
    result = read(buffer.empty() ? nullptr : buffer.data(), &size);
  }
  if (result != NO_ERROR) return {};
  return buffer;
}

}  // namespace

std::vector<unsigned char> ReadTcpTable(ULONG family, TCP_TABLE_CLASS tableClass) {
  return ReadGrowing([family, tableClass](void* buffer, DWORD* size) {
    return ::GetExtendedTcpTable(buffer, size, FALSE, family, tableClass, 0);
  });
}

std::vector<unsigned char> ReadUdpTable(ULONG family, UDP_TABLE_CLASS tableClass) {
  return ReadGrowing([family, tableClass](void* buffer, DWORD* size) {
    return ::GetExtendedUdpTable(buffer, size, FALSE, family, tableClass, 0);
  });
}

}  // namespace pelno
