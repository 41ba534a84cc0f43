#include "helper/service_installer.h"

#include <sddl.h>

#include <cwctype>
#include <iterator>
#include <utility>
#include <vector>

#include "engine/data_locations.h"

namespace pelno {
namespace {

constexpr DWORD kManagerAccess = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE;
constexpr DWORD kServiceAccess =
    SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | WRITE_DAC;

std::wstring Lowered(std::wstring text) {
  for (wchar_t& unit : text) unit = static_cast<wchar_t>(std::towlower(unit));
  return text;
}

// The helper, the engine (empty: none), the folders holding them and the helper's
// parent folder, each with its security; false when one of them cannot be read.
bool ReadGuardedEntries(ServiceFiles& files, const std::wstring& helper, const std::wstring& engine,
                        std::vector<GuardedEntry>& entries) {
  const std::wstring folder = ParentPath(helper);
  std::vector<std::pair<GuardedRole, std::wstring>> paths = {
      {GuardedRole::kFile, helper}, {GuardedRole::kFolder, folder}, {GuardedRole::kParent, ParentPath(folder)}};
  if (!engine.empty()) {
    paths.push_back({GuardedRole::kFile, engine});
    if (ParentPath(engine) != folder) paths.push_back({GuardedRole::kFolder, ParentPath(engine)});
  }
  for (const auto& [role, path] : paths) {
    GuardedEntry entry{role, {}};
    if (files.ReadSecurity(path, entry.security) != 0) return false;
    entries.push_back(std::move(entry));
  }
  return true;
}

// The installer runs elevated and hidden, with no journal: a setting the service
// manager refused goes to the debugger output.
void NoteRefused(const wchar_t* setting, DWORD error) {
  const std::wstring line =
      std::wstring(kHelperServiceName) + L" install: " + setting + L" refused, error " + std::to_wstring(error) + L"\n";
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

int ChooseServiceProgram(ServiceFiles& files, LocationPlatform& locations, std::wstring& program) {
  const std::wstring helper = ExecutablePath(locations);
  if (helper.empty()) return kNoProgramPath;
  const ExecutableSearchResult engine = FindEngineExecutable(EngineSearch::kProgramFolders, locations);
  if (engine.Failed()) return kProtectedCopyFailed;
  std::vector<GuardedEntry> entries;
  if (ReadGuardedEntries(files, helper, engine.path, entries) && OnlyAdministratorsCanChange(entries)) {
    program = helper;
    return kInstalled;
  }
  std::wstring programFiles;
  if (!files.ProgramFilesFolder(programFiles)) return kProtectedCopyFailed;
  const std::wstring folder = programFiles + kProtectedProgramFolder;
  const std::wstring copy = folder + L"\\" + kHelperFileName;
  const std::wstring copiedEngine = folder + L"\\" + std::wstring(kEngineFileName);
  if (Lowered(helper) != Lowered(copy)) {  // else the copy itself is installing again
    const bool copied =
        files.CreateFolder(ParentPath(folder)) == 0 && files.CreateProtectedFolder(folder) == 0 &&
        files.CopyReplacing(helper, copy) == 0 &&
        (engine.Found() ? files.CopyReplacing(engine.path, copiedEngine) : files.DeleteIfPresent(copiedEngine)) == 0;
    if (!copied) return kProtectedCopyFailed;
  }
  program = copy;
  return kInstalled;
}

int InstallService(ServiceControlManager& manager, ServiceFiles& files, LocationPlatform& locations) {
  std::wstring program;
  const int chosen = ChooseServiceProgram(files, locations, program);
  return chosen != kInstalled ? chosen : RegisterService(manager, program);
}

int RegisterService(ServiceControlManager& manager, const std::wstring& programPath) {
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
