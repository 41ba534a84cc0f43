#include "helper/service_installer.h"

#include <sddl.h>

namespace pelno {
namespace {

constexpr DWORD kManagerAccess = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr DWORD kServiceAccess =
    SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | WRITE_DAC;

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
    manager.SetDescription(kServiceDescription);  // a description is cosmetic
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
