#include "plugin/win32_provisioning_platform.h"

#include <windows.h>
#include <objbase.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <winsvc.h>

#include <cwctype>
#include <filesystem>
#include <utility>
#include <vector>

#include "base/unique_handle.h"

namespace pelno {
namespace {

// COM on the calling thread while it lives, which the shell needs for the verbs
// that extensions carry out; released only when initialised here.
class ComScope {
 public:
  ComScope() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComScope() {
    if (initialised_) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  const bool initialised_;
};

static_assert(kServiceQueryConfig == SERVICE_QUERY_CONFIG && kServiceQueryStatus == SERVICE_QUERY_STATUS &&
              kServiceStart == SERVICE_START);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED &&
              kErrorServiceAlreadyRunning == ERROR_SERVICE_ALREADY_RUNNING &&
              kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);

// The final path of an existing entry, without the "\\?\" prefix; 0 or the error code.
DWORD FinalPath(const std::wstring& path, std::wstring& finalPath) {
  UniqueHandle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return ::GetLastError();
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file.Get(), buffer.data(),
                                                     static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return ::GetLastError();
    if (length < buffer.size()) {
      finalPath.assign(buffer.data(), length);
      break;
    }
    buffer.resize(length + 1);
  }
  if (finalPath.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    finalPath = L"\\\\" + finalPath.substr(8);
  } else if (finalPath.rfind(L"\\\\?\\", 0) == 0) {
    finalPath.erase(0, 4);
  }
  return 0;
}

std::wstring WeaklyCanonical(const std::wstring& path) {
  namespace fs = std::filesystem;
  fs::path head(path);
  std::vector<fs::path> rest;
  while (!head.empty()) {
    std::wstring resolved;
    const DWORD error = FinalPath(head.wstring(), resolved);
    if (error == 0) {
      fs::path result(resolved);
      for (auto it = rest.rbegin(); it != rest.rend(); ++it) result /= *it;
      return result.lexically_normal().wstring();
    }
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return path;
    if (!head.has_relative_path()) break;
    rest.push_back(head.filename());
    head = head.parent_path();
  }
  return fs::path(path).lexically_normal().wstring();
}

// The path resolved through the file system as far as it exists, lower-cased unit
// by unit.
std::wstring PathCompareKey(const std::wstring& path) {
  std::wstring key = WeaklyCanonical(path);
  for (wchar_t& unit : key) unit = static_cast<wchar_t>(std::towlower(unit));
  return key;
}

// Windows' own hashing (CNG): an algorithm provider and a hash object.
struct AlgorithmTraits {
  static BCRYPT_ALG_HANDLE Invalid() { return nullptr; }
  static bool IsValid(BCRYPT_ALG_HANDLE h) { return h != nullptr; }
  static void Close(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  static BCRYPT_HASH_HANDLE Invalid() { return nullptr; }
  static bool IsValid(BCRYPT_HASH_HANDLE h) { return h != nullptr; }
  static void Close(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
};
constexpr DWORD kSha256Bytes = 32;
constexpr DWORD kHashReadBytes = 64 * 1024;

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
  const ComScope com;  // the plug-in runs this on a worker thread
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

bool Win32ProvisioningPlatform::IsSameFile(const std::wstring& a, const std::wstring& b) {
  return PathCompareKey(a) == PathCompareKey(b);
}

bool Win32ProvisioningPlatform::FileSha256(const std::wstring& path, std::string& digest) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  ScopedHandle<BCRYPT_ALG_HANDLE, AlgorithmTraits> algorithm;
  ScopedHandle<BCRYPT_HASH_HANDLE, HashTraits> hash;
  if (!file || !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.Get(), hash.Receive(), nullptr, 0, nullptr, 0, 0))) {
    return false;
  }
  std::vector<unsigned char> buffer(kHashReadBytes);
  DWORD read = 0;
  do {
    if (!::ReadFile(file.Get(), buffer.data(), kHashReadBytes, &read, nullptr) ||
        !BCRYPT_SUCCESS(::BCryptHashData(hash.Get(), buffer.data(), read, 0))) {
      return false;
    }
  } while (read != 0);
  std::string result(kSha256Bytes, '\0');
  if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash.Get(), reinterpret_cast<PUCHAR>(result.data()), kSha256Bytes, 0))) {
    return false;
  }
  digest = std::move(result);
  return true;
}

}  // namespace pelno
