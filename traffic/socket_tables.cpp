#include "traffic/socket_tables.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstddef>
#include <vector>

#include "base/unique_handle.h"
#include "base/win32_socket_tables.h"

namespace pelno {
namespace {

constexpr DWORD kTcpStateEstablished = 5;  // MIB_TCP_STATE_ESTAB
constexpr std::size_t kIpv4TextBuffer = 22;
constexpr std::size_t kIpv6TextBuffer = 65;
constexpr DWORD kImagePathUnits = 260;

std::string Ipv4Text(DWORD address) {
  IN_ADDR in{};
  in.S_un.S_addr = address;
  char text[kIpv4TextBuffer] = {};
  return ::inet_ntop(AF_INET, &in, text, sizeof text) ? text : "";
}

std::string Ipv6Text(const UCHAR (&address)[16]) {
  char text[kIpv6TextBuffer] = {};
  return ::inet_ntop(AF_INET6, address, text, sizeof text) ? text : "";
}

std::uint16_t PortOf(DWORD networkOrderPort) { return ::ntohs(static_cast<u_short>(networkOrderPort)); }

}  // namespace

void CollectTcp4(SocketCollector& collector) {
  const std::vector<unsigned char> table = ReadTcpTable(AF_INET, TCP_TABLE_OWNER_PID_ALL);
  ForEachTableRow<MIB_TCPTABLE_OWNER_PID>(table, [&](const MIB_TCPROW_OWNER_PID& row) {
    if (row.dwState != kTcpStateEstablished) return;
    OfferSocketRow(collector, row.dwOwningPid, "TCP", Ipv4Text(row.dwRemoteAddr), PortOf(row.dwRemotePort));
  });
}

void CollectTcp6(SocketCollector& collector) {
  const std::vector<unsigned char> table = ReadTcpTable(AF_INET6, TCP_TABLE_OWNER_PID_ALL);
  ForEachTableRow<MIB_TCP6TABLE_OWNER_PID>(table, [&](const MIB_TCP6ROW_OWNER_PID& row) {
    if (row.dwState != kTcpStateEstablished) return;
    OfferSocketRow(collector, row.dwOwningPid, "TCP", Ipv6Text(row.ucRemoteAddr), PortOf(row.dwRemotePort));
  });
}

void CollectUdp4(SocketCollector& collector) {
  const std::vector<unsigned char> table = ReadUdpTable(AF_INET, UDP_TABLE_OWNER_PID);
  ForEachTableRow<MIB_UDPTABLE_OWNER_PID>(table, [&](const MIB_UDPROW_OWNER_PID& row) {
    OfferSocketRow(collector, row.dwOwningPid, "UDP", Ipv4Text(row.dwLocalAddr), PortOf(row.dwLocalPort));
  });
}

void CollectUdp6(SocketCollector& collector) {
  const std::vector<unsigned char> table = ReadUdpTable(AF_INET6, UDP_TABLE_OWNER_PID);
  ForEachTableRow<MIB_UDP6TABLE_OWNER_PID>(table, [&](const MIB_UDP6ROW_OWNER_PID& row) {
    OfferSocketRow(collector, row.dwOwningPid, "UDP", Ipv6Text(row.ucLocalAddr), PortOf(row.dwLocalPort));
  });
}

std::string ProcessDisplayName(std::uint32_t pid) {
  std::wstring fileName;
  if (UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)); process) {
    wchar_t path[kImagePathUnits];
    DWORD size = kImagePathUnits;
    if (::QueryFullProcessImageNameW(process.Get(), 0, path, &size)) {
      const std::wstring_view full(path, size);
      const std::size_t separator = full.find_last_of(L"\\/");
      fileName = full.substr(separator == std::wstring_view::npos ? 0 : separator + 1);
    }
  }  // the handle is closed here, whether or not the query succeeded
  if (fileName.empty()) return "pid-" + std::to_string(pid);

  const int units = static_cast<int>(fileName.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, fileName.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string name(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, fileName.data(), units, name.data(), bytes, nullptr, nullptr);
  return name;
}

}  // namespace pelno
