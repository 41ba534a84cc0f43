#include "plugin/win32_helper_listener_platform.h"

#include <cstdio>
#include <string>
#include <utility>

#include "base/running_under_wine.h"
#include "base/unique_handle.h"
#include "base/win32_socket_tables.h"
#include "engine/engine_contract.h"

namespace pelno {

bool Win32HelperListenerPlatform::ListenerOwners(std::uint16_t port, std::vector<std::uint32_t>& owners) {
  const std::vector<unsigned char> table = ReadTcpTable(AF_INET, TCP_TABLE_OWNER_PID_LISTENER);
  std::vector<std::uint32_t> found;
  const bool read = ForEachTableRow<MIB_TCPTABLE_OWNER_PID>(table, [&](const MIB_TCPROW_OWNER_PID& row) {
    const bool takesLoopback = row.dwLocalAddr == ::htonl(INADDR_LOOPBACK) || row.dwLocalAddr == INADDR_ANY;
    if (takesLoopback && ::ntohs(static_cast<u_short>(row.dwLocalPort)) == port) found.push_back(row.dwOwningPid);
  });
  if (read) owners = std::move(found);
  return read;
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
