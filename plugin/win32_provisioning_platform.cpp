#include "plugin/win32_provisioning_platform.h"

#include <windows.h>
#include <shellapi.h>
#include <winsvc.h>

#include <vector>

#include "base/unique_handle.h"

namespace pelno {
namespace {

class Win32HelperServiceSession : public HelperServiceSession {
 public:
  ~Win32HelperServiceSession() override {
    service_.Reset();
    manager_.Reset();
  }

  bool OpenManager() override {
    manager_.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return manager_.IsValid();
  }

  std::uint32_t OpenHelper(std::uint32_t access) override {
    service_.Reset(::OpenServiceW(manager_.Get(), kHelperServiceName, access));
    return service_ ? 0 : ::GetLastError();
  }

  bool ReadBinaryPath(std::wstring& binaryPath) override {
    DWORD needed = 0;
    ::QueryServiceConfigW(service_.Get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed);  // zero-filled
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (needed < sizeof(QUERY_SERVICE_CONFIGW) ||
        !::QueryServiceConfigW(service_.Get(), config, needed, &needed)) {
      return false;
    }
    binaryPath = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
    return true;
  }

  bool IsRunning() override {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    return ::QueryServiceStatusEx(service_.Get(), SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<BYTE*>(&status), sizeof(status), &needed) &&
           status.dwCurrentState == SERVICE_RUNNING;
  }

  std::uint32_t Start() override {
    return ::StartServiceW(service_.Get(), 0, nullptr) ? 0 : ::GetLastError();
  }

 private:
  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;
};

}  // namespace

std::unique_ptr<HelperServiceSession> Win32ProvisioningPlatform::OpenSession() {
  return std::make_unique<Win32HelperServiceSession>();
}

bool Win32ProvisioningPlatform::RunElevated(const std::wstring& program, const std::wstring& parameters,
                                            const std::wstring& directory, std::uint32_t waitMs,
                                            std::uint32_t& exitCode) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = SW_HIDE;
  if (!::ShellExecuteExW(&info)) return false;
  UniqueHandle process(info.hProcess);
  DWORD code = 1;
  if (process) {
    ::WaitForSingleObject(process.Get(), waitMs);
    if (!::GetExitCodeProcess(process.Get(), &code)) code = 1;
  }
  exitCode = code;
  return true;
}

void Win32ProvisioningPlatform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace pelno
