#include "helper/service_installer.h"

#include <sddl.h>

#include <memory>

#include "engine/data_locations.h"

namespace pelno {
namespace {

constexpr DWORD kManagerAccess = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr DWORD kServiceAccess =
    SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | WRITE_DAC;

struct LocalFreeDeleter {
  void operator()(void* p) const { ::LocalFree(p); }
};

}  // namespace

int InstallService(ServiceControlManager& manager, const std::wstring& programPath) {
  if (programPath.empty()) return kNoProgramPath;

  DWORD error = 0;
  if (!manager.OpenManager(kManagerAccess, error)) return kManagerUnavailable;

  ServiceDefinition service;
  service.name = kServiceName;
  service.displayName = kServiceDisplayName;
  service.binaryPath = L"\"" + programPath + L"\"";
  service.serviceType = SERVICE_WIN32_OWN_PROCESS;
  service.startType = SERVICE_AUTO_START;
  service.errorControl = SERVICE_ERROR_NORMAL;
  service.serviceAccess = kServiceAccess;

  if (!manager.CreateOwnService(service, error)) {
    DWORD openError = 0;
    if (error != ERROR_SERVICE_EXISTS || !manager.OpenExistingService(service, openError)) {
      manager.CloseManager();
      return kServiceUnavailable;
    }
    manager.Reconfigure(service);  // best effort, as the description and DACL below
  }

  manager.SetDescription(kServiceDescription);

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceSddl, SDDL_REVISION_1,
                                                             &descriptor, nullptr)) {
    std::unique_ptr<void, LocalFreeDeleter> owned(descriptor);
    manager.ApplyDacl(descriptor);
  }

  manager.CloseService();
  manager.CloseManager();
  return kInstalled;
}

int InstallService() {
  Win32ServiceControlManager manager;
  return InstallService(manager, ExecutablePath());
}

}  // namespace pelno
