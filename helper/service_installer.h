// Registers the helper program as the automatically started service
// kHelperServiceName ("PelnoVpnHelperService") that every authenticated user may
// query and start (kServiceUserAccess). The service runs as LocalSystem, so it runs
// only program files that nobody but administrators can change: the helper where it
// stands when that holds, else a copy in a protected folder under Program Files.
#pragma once

#include <string>

#include "engine/engine_contract.h"
#include "engine/location_platform.h"
#include "helper/service_control_manager.h"
#include "helper/service_files.h"

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
  kProtectedCopyFailed = 4,  // nothing registered
};

// %ProgramFiles% + this: the folder of the copy.
inline constexpr wchar_t kProtectedProgramFolder[] = L"\\PelnoVPN\\Service";

// The program the service is to run, for the running helper (`locations`): the
// helper itself when only administrators can change it, the engine it would run,
// their folders and the parent folder; otherwise the helper and that engine
// (when there is one) copied into the protected folder, over what is there, and
// the copy. kInstalled or kNoProgramPath / kProtectedCopyFailed.
int ChooseServiceProgram(ServiceFiles& files, LocationPlatform& locations, std::wstring& program);

// Creates the service, or reconfigures an existing one to run `programPath`.
int RegisterService(ServiceControlManager& manager, const std::wstring& programPath);

// ChooseServiceProgram, then RegisterService of that program.
int InstallService(ServiceControlManager& manager, ServiceFiles& files, LocationPlatform& locations);

}  // namespace pelno
