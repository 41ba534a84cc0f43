#include "plugin/win32_local_traffic_source.h"

#include <winsock2.h>

#include "traffic/traffic_snapshot.h"

namespace pelno {

// The controller is reached over Winsock, which the application does not otherwise start.
std::string Win32LocalTrafficSource::BuildSnapshot() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::string(kEmptyTrafficSnapshot);
  std::string snapshot = BuildTrafficSnapshot();
  ::WSACleanup();
  return snapshot;
}

}  // namespace pelno
