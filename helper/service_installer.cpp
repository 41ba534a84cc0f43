#include "helper/service_installer.h"

#include <sddl.h>

#include <iterator>

namespace pelno {
namespace {

constexpr DWORD kManagerAccess = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr DWORD kServiceAccess =
    SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | WRITE_DAC;

// The installer runs elevated and hidden, with no journal: a setting the service
// manager refused goes to the debugger output.
void NoteRefused(const wchar_t* setting, DWORD error) {
  const std::wstring line =
      std::wstring(L"PelnoVpnHelperService install: ") + setting + L" refused, error " + std::to_wstring(error) + L"\n";
  ::OutputDebugStringW(line.c_str());
}

// The description, the restarts after a crash and the service's own SID. Wine
// refuses the SID type, and neither refusal keeps the service from working: the
// install goes on.
void ApplyExtraSettings(ServiceControlManager& manager) {
  DWORD error = 0;
  SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kServiceDescription)};
  manager.ChangeConfig2(SERVICE_CONFIG_DESCRIPTION, &description, error);  // cosmetic

  SC_ACTION restarts[std::size(kRestartDelaysMs)];
  for (std::size_t i = 0; i < std::size(restarts); ++i) restarts[i] = {SC_ACTION_RESTART, kRestartDelaysMs[i]};
  SERVICE_FAILURE_ACTIONSW failureActions{kFailureResetSeconds, nullptr, nullptr,
                                          static_cast<DWORD>(std::size(restarts)), restarts};
  if (!manager.ChangeConfig2(SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions, error))
    NoteRefused(L"failure actions", error);

  SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
  if (!manager.ChangeConfig2(SERVICE_CONFIG_SERVICE_SID_INFO, &sid, error)) NoteRefused(L"service SID type", error);
}

}  // namespace

int InstallService(ServiceControlManager& manager, const std::wstring& programPath) {
  if (programPath.empty()) return kNoProgramPath;

  DWORD error = 0;
  if (!manager.OpenManager(kManagerAccess, error)) return kManagerUnavailable;

  ServiceDefinition service;
  service.name = kHelperServiceName;
  service.displayName = kServiceDisplayName;
  service.binaryPath = L"\"" + programPath + L"\"";
  service.serviceType = SERVICE_WIN32_OWN_PROCESS;
  service.startType = SERVICE_AUTO_START;
  service.errorControl = SERVICE_ERROR_NORMAL;
  service.serviceAccess = kServiceAccess;

  bool existing = false;
  if (!manager.CreateOwnService(service, error)) {
    DWORD openError = 0;
    if (error != ERROR_SERVICE_EXISTS || !manager.OpenExistingService(service, openError)) {
      manager.CloseManager();
      return kServiceUnavailable;
    }
    existing = true;
  }
  // An existing service that keeps its old binary path or its old access rules is
  // not installed: the application would go on starting the old program, or could
  // not start this one.
  bool ok = !existing || manager.Reconfigure(service);
  if (ok) {
    ApplyExtraSettings(manager);
    UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSddl, SDDL_REVISION_1,
                                                               descriptor.Receive(), nullptr)) {
      ok = manager.ApplyDacl(descriptor.Get()) || !existing;
    } else {
      ok = !existing;
    }
  }
  manager.CloseService();
  manager.CloseManager();
  return ok ? kInstalled : kServiceUnavailable;
}

}  // namespace pelno
