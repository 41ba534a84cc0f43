// The service control manager calls the installer makes, behind a seam: Wine
// accepts a DACL without applying it and cannot refuse access, so tests stand in.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <string>

#include "base/unique_handle.h"

namespace pelno {

// What the installer registers.
struct ServiceDefinition {
  std::wstring name;
  std::wstring displayName;
  std::wstring binaryPath;  // quoted program path
  DWORD serviceType = 0;
  DWORD startType = 0;
  DWORD errorControl = 0;
  DWORD serviceAccess = 0;
};

// One installer session with the manager: at most one manager handle and one
// service handle, both closed when the object goes away. Failing calls return
// false and put the Win32 error code into `error`.
class ServiceControlManager {
 public:
  virtual ~ServiceControlManager() = default;
  virtual bool OpenManager(DWORD access, DWORD& error) = 0;
  virtual bool CreateOwnService(const ServiceDefinition& service, DWORD& error) = 0;
  virtual bool OpenExistingService(const ServiceDefinition& service, DWORD& error) = 0;
  virtual bool Reconfigure(const ServiceDefinition& service) = 0;
  // ChangeServiceConfig2W with `info` of the structure `level` names.
  virtual bool ChangeConfig2(DWORD level, void* info, DWORD& error) = 0;
  virtual bool ApplyDacl(PSECURITY_DESCRIPTOR descriptor) = 0;
  virtual void CloseService() = 0;
  virtual void CloseManager() = 0;
};

class Win32ServiceControlManager : public ServiceControlManager {
 public:
  bool OpenManager(DWORD access, DWORD& error) override;
  bool CreateOwnService(const ServiceDefinition& service, DWORD& error) override;
  bool OpenExistingService(const ServiceDefinition& service, DWORD& error) override;
  bool Reconfigure(const ServiceDefinition& service) override;
  bool ChangeConfig2(DWORD level, void* info, DWORD& error) override;
  bool ApplyDacl(PSECURITY_DESCRIPTOR descriptor) override;
  void CloseService() override { service_.Reset(); }
  void CloseManager() override { manager_.Reset(); }

 private:
  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;
};

}  // namespace pelno
