#include "plugin/helper_provisioning.h"

#include "plugin/helper_client.h"
#include "plugin/service_image_path.h"

namespace pelno {
namespace {

constexpr char kManagerFailed[] = "Failed to open Windows Service Control Manager";
// The service's name as the messages below spell it ("PelnoVpnHelperService").
const std::string kService(kHelperServiceNameText.data());

bool SameBytes(const std::wstring& a, const std::wstring& b, ProvisioningPlatform& platform) {
  std::string digestA, digestB;
  return platform.FileSha256(a, digestA) && platform.FileSha256(b, digestB) && digestA == digestB;
}

// The installer copies the helper, with the engine beside it, into a protected
// folder when the application's folder is not: such a copy is current while it has
// the helper's bytes and, where the application has an engine, that engine's bytes.
bool IsCopyOfHelper(const std::wstring& helper, const std::wstring& installed, const Provisioning& with) {
  if (!SameBytes(helper, installed, with.platform)) return false;
  const ExecutableSearchResult engine = FindEngineExecutable(EngineSearch::kProgramFolders, with.locations);
  if (engine.Failed()) return false;
  return !engine.Found() ||
         SameBytes(engine.path, ParentPath(installed) + L"\\" + std::wstring(kEngineFileName), with.platform);
}

}  // namespace

bool QueryInstalledHelper(bool& current, std::wstring& installedPath, std::string& error,
                          const Provisioning& with) {
  current = false;
  installedPath.clear();
  const auto session = with.platform.OpenSession();
  if (!session->OpenManager()) {
    error = kManagerFailed;
    return false;
  }
  const std::uint32_t openError = session->OpenHelper(kServiceQueryConfig);
  if (openError != 0) {
    if (openError != kErrorServiceDoesNotExist) error = "Failed to query " + kService;
    return false;
  }
  std::wstring binaryPath;
  if (!session->ReadBinaryPath(binaryPath)) {
    error = "Failed to read " + kService + " path";
    return false;
  }
  if (binaryPath.empty()) return true;
  installedPath = ServiceBinaryFromImagePath(binaryPath);
  const ExecutableSearchResult expected = FindHelperExecutable(with.locations);
  if (expected.Found()) {
    current = with.platform.IsSameFile(expected.path, installedPath) || IsCopyOfHelper(expected.path, installedPath, with);
  }
  return true;
}

bool InstallHelperService(std::string& error, const Provisioning& with) {
  const ExecutableSearchResult program = FindHelperExecutable(with.locations);
  if (!program.Found()) {
    error = program.Failed() ? program.error
                             : std::string(kHelperFileNameText.data()) + " not found; place it next to the app exe";
    return false;
  }
  std::uint32_t exitCode = 1;
  if (!with.platform.RunElevated(program.path, L"--install-service", ExecutableDirectory(with.locations),
                                 kInstallerWaitMs, exitCode)) {
    error = "User canceled UAC or helper service install failed";
    return false;
  }
  if (exitCode != 0) {
    error = kService + " install failed";
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
  const std::uint32_t openError = session->OpenHelper(kServiceQueryStatus | kServiceStart);
  if (openError != 0) {
    if (openError == kErrorServiceDoesNotExist) error = kService + " is not installed";
    else if (openError == kErrorAccessDenied) error = kService + " open access denied";
    else error = "Failed to open " + kService + ": " + FormatErrorCode(openError);
    return false;
  }
  if (session->IsRunning()) return true;
  const std::uint32_t startError = session->Start();
  if (startError != 0 && startError != kErrorServiceAlreadyRunning) {
    if (startError == kErrorAccessDenied) error = kService + " start access denied";
    else error = "Failed to start " + kService + ": " + FormatErrorCode(startError);
    return false;
  }
  for (int round = 0; round < kServiceStartRounds; ++round) {
    with.platform.Sleep(kProvisioningPollMs);
    if (session->IsRunning()) return true;
  }
  error = kService + " did not reach running state";
  return false;
}

bool EnsureHelperReady(std::string& error, const Provisioning& with) {
  if (HelperAnswersPing(with.helper)) return true;
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
    if (HelperAnswersPing(with.helper)) return true;
  }
  error = "Windows helper service started but did not become ready";
  return false;
}

}  // namespace pelno
