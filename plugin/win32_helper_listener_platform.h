// The real socket table, service manager and debug console behind the check of the
// program listening on the helper's port.
#pragma once

#include "plugin/helper_listener_check.h"

namespace pelno {

class Win32HelperListenerPlatform : public HelperListenerPlatform {
 public:
  // The TCP table of class TCP_TABLE_OWNER_PID_LISTENER (IPv4).
  bool ListenerOwners(std::uint16_t port, std::vector<std::uint32_t>& owners) override;
  // QueryServiceStatusEx: SERVICE_STATUS_PROCESS.dwProcessId.
  std::uint32_t ServiceProcessId() override;
  bool UnderWine() override;
  // Standard error and OutputDebugString.
  void Note(std::string_view line) override;
};

}  // namespace pelno
