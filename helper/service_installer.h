// Registers the helper program as the automatically started service
// kHelperServiceName ("PelnoVpnHelperService") that every authenticated user may
// query and start (kServiceUserAccess).
#pragma once

#include <string>

#include "engine/engine_contract.h"
#include "helper/service_control_manager.h"

namespace pelno {

inline constexpr wchar_t kServiceDisplayName[] = L"Pelno VPN Helper Service";
inline constexpr wchar_t kServiceDescription[] = L"Runs sing-box TUN mode for Pelno VPN.";
// Full control for LocalSystem and Administrators; kServiceUserAccess (query
// configuration and status, start) for Authenticated Users.
inline constexpr wchar_t kServiceSddl[] =
    L"D:(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCRP;;;AU)";

// A crashed helper comes back by itself: restarted after these delays, the count of
// failures reset after a day without one.
inline constexpr DWORD kRestartDelaysMs[] = {1000, 5000, 30000};
inline constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

enum InstallResult : int {
  kInstalled = 0,
  kNoProgramPath = 1,
  kManagerUnavailable = 2,
  kServiceUnavailable = 3,
};

// Creates the service, or reconfigures an existing one to run `programPath`.
int InstallService(ServiceControlManager& manager, const std::wstring& programPath);

}  // namespace pelno
