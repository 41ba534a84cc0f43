#include "helper/service_control_manager.h"

namespace pelno {

bool Win32ServiceControlManager::OpenManager(DWORD access, DWORD& error) {
  manager_.Reset(::OpenSCManagerW(nullptr, nullptr, access));
  if (!manager_) error = ::GetLastError();
  return manager_.IsValid();
}

bool Win32ServiceControlManager::CreateOwnService(const ServiceDefinition& s, DWORD& error) {
  service_.Reset(::CreateServiceW(manager_.Get(), s.name.c_str(), s.displayName.c_str(),
                                  s.serviceAccess, s.serviceType, s.startType, s.errorControl,
                                  s.binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr,
                                  nullptr));
  if (!service_) error = ::GetLastError();
  return service_.IsValid();
}

bool Win32ServiceControlManager::OpenExistingService(const ServiceDefinition& s, DWORD& error) {
  service_.Reset(::OpenServiceW(manager_.Get(), s.name.c_str(), s.serviceAccess));
  if (!service_) error = ::GetLastError();
  return service_.IsValid();
}

bool Win32ServiceControlManager::Reconfigure(const ServiceDefinition& s) {
  return ::ChangeServiceConfigW(service_.Get(), s.serviceType, s.startType, s.errorControl,
                                s.binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr,
                                nullptr, s.displayName.c_str()) != FALSE;
}

bool Win32ServiceControlManager::ChangeConfig2(DWORD level, void* info, DWORD& error) {
  if (::ChangeServiceConfig2W(service_.Get(), level, info)) return true;
  error = ::GetLastError();
  return false;
}

bool Win32ServiceControlManager::ApplyDacl(PSECURITY_DESCRIPTOR descriptor) {
  return ::SetServiceObjectSecurity(service_.Get(), DACL_SECURITY_INFORMATION, descriptor) !=
         FALSE;
}

}  // namespace pelno
