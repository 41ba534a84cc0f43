// The service manager and elevated-launch calls behind the helper's provisioning,
// so that refusals Wine never gives (access denied, a declined elevation prompt,
// an installer that fails) can be produced by a fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/engine_contract.h"

namespace pelno {

// Access rights and error codes as the service manager has them.
inline constexpr std::uint32_t kServiceQueryConfig = 0x0001;  // SERVICE_QUERY_CONFIG
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;  // SERVICE_QUERY_STATUS
inline constexpr std::uint32_t kServiceStart = 0x0010;        // SERVICE_START
// All the application asks of the service, which the service's DACL gives every user.
static_assert(((kServiceQueryConfig | kServiceQueryStatus | kServiceStart) & ~kServiceUserAccess) == 0);
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;

// One conversation with the service manager about the helper service; its handles
// are closed, service first, when the object goes.
class HelperServiceSession {
 public:
  virtual ~HelperServiceSession() = default;
  // OpenSCManagerW with SC_MANAGER_CONNECT.
  virtual bool OpenManager() = 0;
  // OpenServiceW with `access`: 0, or the error code of the failed call.
  virtual std::uint32_t OpenHelper(std::uint32_t access) = 0;
  // QueryServiceConfigW (size, then data): false when unreadable; `binaryPath` is
  // empty when the configuration names none.
  virtual bool ReadBinaryPath(std::wstring& binaryPath) = 0;
  // QueryServiceStatusEx: the query succeeded and the state is SERVICE_RUNNING.
  virtual bool IsRunning() = 0;
  // StartServiceW without arguments: 0, or the error code.
  virtual std::uint32_t Start() = 0;
};

class ProvisioningPlatform {
 public:
  virtual ~ProvisioningPlatform() = default;
  virtual std::unique_ptr<HelperServiceSession> OpenSession() = 0;
  // ShellExecuteExW with the "runas" verb, hidden, then a wait of at most
  // `waitMs`; `exitCode` stays 1 unless the process's code can be read. False when
  // the launch itself failed (elevation declined, program not startable).
  virtual bool RunElevated(const std::wstring& program, const std::wstring& parameters,
                           const std::wstring& directory, std::uint32_t waitMs,
                           std::uint32_t& exitCode) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Both paths name the same file: each resolved through the file system as far as
  // it exists (links followed, names as stored, "." and ".." removed), then compared
  // without regard to case.
  virtual bool IsSameFile(const std::wstring& a, const std::wstring& b) = 0;
  // The SHA-256 of a file's bytes (32 bytes); false when it cannot be read, absent
  // included.
  virtual bool FileSha256(const std::wstring& path, std::string& digest) = 0;
};

}  // namespace pelno
