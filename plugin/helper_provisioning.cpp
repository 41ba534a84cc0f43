#include "plugin/helper_provisioning.h"

#include <windows.h>
#include <winsvc.h>

#include <cwctype>
#include <filesystem>
#include <vector>

#include "base/unique_handle.h"
#include "plugin/helper_client.h"
#include "plugin/service_image_path.h"
#include "plugin/status_map.h"

namespace pelno {
namespace {

constexpr char kManagerFailed[] = "Failed to open Windows Service Control Manager";

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

}  // namespace

std::wstring PathCompareKey(const std::wstring& path) {
  std::wstring key = WeaklyCanonical(path);
  for (wchar_t& unit : key) unit = static_cast<wchar_t>(std::towlower(unit));
  return key;
}

bool QueryInstalledHelper(bool& current, std::wstring& installedPath, std::string& error,
                          const Provisioning& with) {
  current = false;
  installedPath.clear();
  const auto session = with.platform.OpenSession();
  if (!session->OpenManager()) {
    error = kManagerFailed;
    return false;
  }
  const std::uint32_t openError = session->OpenHelper(SERVICE_QUERY_CONFIG);
  if (openError != 0) {
    if (openError != ERROR_SERVICE_DOES_NOT_EXIST) error = "Failed to query PelnoVpnHelperService";
    return false;
  }
  std::wstring binaryPath;
  if (!session->ReadBinaryPath(binaryPath)) {
    error = "Failed to read PelnoVpnHelperService path";
    return false;
  }
  if (binaryPath.empty()) return true;
  installedPath = ServiceBinaryFromImagePath(binaryPath);
  const ExecutableLookup expected = FindHelperExecutable(with.locations);
  if (expected.Found()) current = PathCompareKey(expected.path) == PathCompareKey(installedPath);
  return true;
}

bool InstallHelperService(std::string& error, const Provisioning& with) {
  const ExecutableLookup program = FindHelperExecutable(with.locations);
  if (!program.Found()) {
    error = program.Failed() ? program.error
                             : "PelnoVpnHelperService.exe not found; place it next to the app exe";
    return false;
  }
  std::uint32_t exitCode = 1;
  if (!with.platform.RunElevated(program.path, L"--install-service", ExecutableDirectory(with.locations),
                                 kInstallerWaitMs, exitCode)) {
    error = "User canceled UAC or helper service install failed";
    return false;
  }
  if (exitCode != 0) {
    error = "PelnoVpnHelperService install failed";
    return false;
  }
  return true;
}

bool StartHelperService(std::string& error, const Provisioning& with) {
  const auto session = with.platform.OpenSession();
  if (!session->OpenManager()) {
    error = kManagerFailed;
    return false;
  }
  const std::uint32_t openError = session->OpenHelper(SERVICE_QUERY_STATUS | SERVICE_START);
  if (openError != 0) {
    if (openError == ERROR_SERVICE_DOES_NOT_EXIST) error = "PelnoVpnHelperService is not installed";
    else if (openError == ERROR_ACCESS_DENIED) error = "PelnoVpnHelperService open access denied";
    else error = "Failed to open PelnoVpnHelperService: " + FormatErrorCode(openError);
    return false;
  }
  if (session->IsRunning()) return true;
  const std::uint32_t startError = session->Start();
  if (startError != 0 && startError != ERROR_SERVICE_ALREADY_RUNNING) {
    if (startError == ERROR_ACCESS_DENIED) error = "PelnoVpnHelperService start access denied";
    else error = "Failed to start PelnoVpnHelperService: " + FormatErrorCode(startError);
    return false;
  }
  for (int round = 0; round < kServiceStartRounds; ++round) {
    with.platform.Sleep(kProvisioningPollMs);
    if (session->IsRunning()) return true;
  }
  error = "PelnoVpnHelperService did not reach running state";
  return false;
}

bool EnsureHelperReady(std::string& error, const Provisioning& with) {
  if (HelperAnswersPing()) return true;
  bool current = false;
  std::wstring installedPath;
  if (!QueryInstalledHelper(current, installedPath, error, with) || !current) {
    if (!InstallHelperService(error, with)) return false;
  }
  if (!StartHelperService(error, with)) {
    // The installer lets every authenticated user start the service, so a start
    // refused for lack of rights is tried once more after it.
    if (error.find("access denied") == std::string::npos) return false;
    if (!InstallHelperService(error, with) || !StartHelperService(error, with)) return false;
  }
  for (int round = 0; round < kReadinessRounds; ++round) {
    with.platform.Sleep(kProvisioningPollMs);
    if (HelperAnswersPing()) return true;
  }
  error = "Windows helper service started but did not become ready";
  return false;
}

bool StartHelperTun(const std::string& config, flutter::EncodableValue& statusMap, std::string& error,
                    const Provisioning& with) {
  if (!EnsureHelperReady(error, with)) return false;
  std::string reply;
  if (!HelperRequestText(L"POST", L"/start-tun", config, reply)) {
    error = "Windows helper service did not respond";
    return false;
  }
  statusMap = ParseStatusReply(reply, kStatusDisconnected, "Invalid Windows helper response");
  return true;
}

}  // namespace pelno
