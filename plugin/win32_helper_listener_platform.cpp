#include "plugin/win32_helper_listener_platform.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstddef>
#include <cstdio>
#include <string>

#include "base/running_under_wine.h"
#include "base/unique_handle.h"
#include "engine/engine_contract.h"

namespace pelno {
namespace {

// The table can grow between the size query and the read; so many reads at most.
constexpr int kTableReadTries = 4;

}  // namespace

bool Win32HelperListenerPlatform::ListenerOwners(std::uint16_t port, std::vector<std::uint32_t>& owners) {
  std::vector<unsigned char> buffer;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < kTableReadTries && result == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    buffer.resize(size);
    result = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                                   TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR || buffer.size() < offsetof(MIB_TCPTABLE_OWNER_PID, table)) return false;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  const std::size_t fits = (buffer.size() - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(table->table[0]);
  owners.clear();
  for (std::size_t i = 0; i < table->dwNumEntries && i < fits; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    const bool takesLoopback = row.dwLocalAddr == ::htonl(INADDR_LOOPBACK) || row.dwLocalAddr == INADDR_ANY;
    if (takesLoopback && ::ntohs(static_cast<u_short>(row.dwLocalPort)) == port) owners.push_back(row.dwOwningPid);
  }
  return true;
}

std::uint32_t Win32HelperListenerPlatform::ServiceProcessId() {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 0;
  const UniqueServiceHandle service(::OpenServiceW(manager.Get(), kHelperServiceName, SERVICE_QUERY_STATUS));
  if (!service) return 0;
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed) ||
      status.dwCurrentState == SERVICE_STOPPED) {
    return 0;
  }
  return status.dwProcessId;
}

bool Win32HelperListenerPlatform::UnderWine() { return RunningUnderWine(); }

void Win32HelperListenerPlatform::Note(std::string_view line) {
  const std::string text = std::string(line) + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  ::OutputDebugStringA(text.c_str());
}

}  // namespace pelno
