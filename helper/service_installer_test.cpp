#include "helper/service_installer.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/testing/fake_location_platform.h"
#include "engine/testing/temp_folder.h"
#include "helper/win32_service_files.h"

namespace pelno {
namespace {

using Calls = std::vector<std::string>;

using AceSummary = std::pair<std::wstring, DWORD>;  // SID and access mask

// Records what the installer asks of the manager and the extra settings' payloads;
// fails the calls named in `failures` with their error. Setting the description
// always fails.
class FakeManager : public ServiceControlManager {
 public:
  std::map<std::string, DWORD> failures;
  Calls calls;
  DWORD managerAccess = 0, serviceAccess = 0;
  std::wstring binaryPath;
  std::vector<AceSummary> dacl;
  std::wstring description;
  DWORD resetSeconds = 0, sidType = 0;
  std::vector<std::pair<SC_ACTION_TYPE, DWORD>> failureActions;

  bool OpenManager(DWORD access, DWORD& error) override {
    managerAccess = access;
    return Call("open-manager", error);
  }
  bool CreateOwnService(const ServiceDefinition& s, DWORD& error) override {
    serviceAccess = s.serviceAccess;
    binaryPath = s.binaryPath;
    return Call("create", error);
  }
  bool OpenExistingService(const ServiceDefinition&, DWORD& error) override { return Call("open-service", error); }
  bool Reconfigure(const ServiceDefinition&) override { return Call("reconfigure"); }
  bool ChangeConfig2(DWORD level, void* info, DWORD& error) override {
    if (level == SERVICE_CONFIG_DESCRIPTION) {
      description = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
      return Call("describe", error), false;
    }
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
      const auto& actions = *static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
      resetSeconds = actions.dwResetPeriod;
      for (DWORD i = 0; i < actions.cActions; ++i)
        failureActions.emplace_back(actions.lpsaActions[i].Type, actions.lpsaActions[i].Delay);
      EXPECT_EQ(actions.lpRebootMsg, nullptr);
      EXPECT_EQ(actions.lpCommand, nullptr);
      return Call("failure-actions", error);
    }
    EXPECT_EQ(level, static_cast<DWORD>(SERVICE_CONFIG_SERVICE_SID_INFO));
    sidType = static_cast<SERVICE_SID_INFO*>(info)->dwServiceSidType;
    return Call("sid-type", error);
  }
  bool ApplyDacl(PSECURITY_DESCRIPTOR descriptor) override {
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    for (DWORD i = 0; present && acl && i < acl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      const bool read = ::GetAce(acl, i, reinterpret_cast<void**>(&ace));
      if (!read || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      LPWSTR sid = nullptr;
      ::ConvertSidToStringSidW(&ace->SidStart, &sid);
      dacl.push_back({sid ? sid : L"?", ace->Mask});
      ::LocalFree(sid);
    }
    return Call("dacl");
  }
  void CloseService() override { Call("close-service"); }
  void CloseManager() override { Call("close-manager"); }

 private:
  bool Call(const std::string& name, DWORD& error) {
    calls.push_back(name);
    const auto failure = failures.find(name);
    if (failure != failures.end()) error = failure->second;
    return failure == failures.end();
  }
  bool Call(const std::string& name) { return Call(name, ignored_); }
  DWORD ignored_ = 0;
};

const std::wstring kPath = L"C:\\Program Files\\Pelno VPN\\PelnoVpnHelperService.exe";

// Result codes: 1 no program path, 2 no manager, 3 no service, or an existing one
// that keeps its old binary path or access rules. A new service's DACL result and
// the extra settings' (Wine refuses the SID type with 124) don't change the result.
TEST(InstallServiceTest, AsksForItsAccessAndMapsOutcomesToResultCodes) {
  const Calls kNew = {"open-manager", "create", "describe", "failure-actions", "sid-type",
                      "dacl", "close-service", "close-manager"};
  const Calls kExisting = {"open-manager", "create", "open-service", "reconfigure", "describe",
                           "failure-actions", "sid-type", "dacl", "close-service", "close-manager"};
  const std::pair<std::string, DWORD> kExists = {"create", ERROR_SERVICE_EXISTS};
  const struct {
    const char* name;
    std::map<std::string, DWORD> failures;
    int result;
    Calls calls;
    std::wstring path = kPath;
  } cases[] = {
      {"new service", {}, 0, kNew},
      {"new service, DACL refused", {{"dacl", 1}}, 0, kNew},
      {"extra settings refused", {{"failure-actions", ERROR_ACCESS_DENIED}, {"sid-type", ERROR_INVALID_LEVEL}}, 0, kNew},
      {"existing service, SID type refused", {kExists, {"sid-type", ERROR_INVALID_LEVEL}}, 0, kExisting},
      {"existing service reconfigured in place", {kExists}, 0, kExisting},
      {"existing service keeps its old access rules", {kExists, {"dacl", 1}}, 3, kExisting},
      {"no path", {}, 1, {}, L""},
      {"manager denied", {{"open-manager", ERROR_ACCESS_DENIED}}, 2, {"open-manager"}},
      {"create denied", {{"create", ERROR_ACCESS_DENIED}}, 3, {"open-manager", "create", "close-manager"}},
      {"existing cannot be opened", {kExists, {"open-service", ERROR_ACCESS_DENIED}}, 3,
       {"open-manager", "create", "open-service", "close-manager"}},
      {"reconfiguration fails", {kExists, {"reconfigure", 1}}, 3,
       {"open-manager", "create", "open-service", "reconfigure", "close-service", "close-manager"}},
  };
  // System and Administrators get full control; Authenticated Users what the
  // application asks for, and never stop.
  const DWORD full = SERVICE_ALL_ACCESS;  // CC DC LC SW RP WP DT LO CR SD RC WD WO
  const DWORD users = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START;
  static_assert(kServiceUserAccess == users);
  const std::vector<AceSummary> kDacl = {{L"S-1-5-18", full}, {L"S-1-5-32-544", full}, {L"S-1-5-11", users}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeManager manager;
    manager.failures = c.failures;
    EXPECT_EQ(RegisterService(manager, c.path), c.result);
    EXPECT_EQ(manager.calls, c.calls);
    if (c.result != 0) continue;
    EXPECT_EQ(manager.managerAccess, 3u);
    EXPECT_EQ(manager.serviceAccess, 0x40016u);
    EXPECT_EQ(manager.dacl, kDacl);
    EXPECT_EQ(manager.description, L"Runs sing-box TUN mode for Pelno VPN.");
    const std::vector<std::pair<SC_ACTION_TYPE, DWORD>> kRestarts = {
        {SC_ACTION_RESTART, 1000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}};
    EXPECT_EQ(manager.failureActions, kRestarts);
    EXPECT_EQ(manager.resetSeconds, 86400u);
    EXPECT_EQ(manager.sidType, static_cast<DWORD>(SERVICE_SID_TYPE_UNRESTRICTED));
  }
}

// Files and folders in memory: a path without a descriptor cannot be read; the
// operation named in `failure` fails.
struct FakeFiles : ServiceFiles {
  std::map<std::wstring, SecurityDescription> security;
  std::string failure;
  std::vector<std::wstring> calls;

  std::uint32_t ReadSecurity(const std::wstring& path, SecurityDescription& described) override {
    const auto found = security.find(path);
    return found == security.end() ? ERROR_FILE_NOT_FOUND : (described = found->second, 0);
  }
  bool ProgramFilesFolder(std::wstring& folder) override { return folder = L"C:\\PF", true; }
  std::uint32_t CreateFolder(const std::wstring& path) override { return Call("create", path); }
  std::uint32_t CreateProtectedFolder(const std::wstring& path) override { return Call("protect", path); }
  std::uint32_t CopyReplacing(const std::wstring& a, const std::wstring& b) override { return Call("copy", a + L" > " + b); }
  std::uint32_t DeleteIfPresent(const std::wstring& path) override { return Call("delete", path); }

  std::uint32_t Call(const std::string& name, const std::wstring& what) {
    calls.push_back(std::wstring(name.begin(), name.end()) + L" " + what);
    return name == failure ? ERROR_ACCESS_DENIED : 0;
  }
};

// The helper runs where it stands only when only administrators can change it, its
// engine and their folders; otherwise from its copy, which a failed step leaves
// unregistered.
TEST(InstallServiceTest, RegistersTheHelperInPlaceOrItsProtectedCopy) {
  const std::wstring app = L"C:\\Apps\\Client", helper = app + L"\\PelnoVpnHelperService.exe";
  const std::wstring engine = app + L"\\sing-box.exe", dataEngine = app + L"\\data\\sing-box.exe";
  const std::wstring copyFolder = L"C:\\PF\\PelnoVPN\\Service", copy = copyFolder + L"\\PelnoVpnHelperService.exe";
  const SecurityDescription adminOnly = {"S-1-5-32-544", {{AceKind::kAllow, 0x1F01FF, "S-1-5-18", 0}}};
  SecurityDescription userWritable = adminOnly;
  userWritable.dacl.push_back({AceKind::kAllow, 0x2, "S-1-5-11", 0});
  const std::vector<std::wstring> kCopied = {L"create C:\\PF\\PelnoVPN", L"protect " + copyFolder,
                                             L"copy " + helper + L" > " + copy,
                                             L"copy " + engine + L" > " + copyFolder + L"\\sing-box.exe"};
  const struct {
    const char* kind;
    std::map<std::wstring, SecurityDescription> security;
    std::wstring engine = L"", module = L"";
    std::string failure = "";
    int result = 0;
    std::vector<std::wstring> calls = {};
    std::wstring registered = L"";
  } cases[] = {
      {"admin-only: in place", {{helper, adminOnly}, {engine, adminOnly}, {app, adminOnly}, {L"C:\\Apps", adminOnly}},
       engine, L"", "", 0, {}, helper},
      {"a folder the user may add to", {{helper, adminOnly}, {engine, adminOnly}, {app, userWritable},
       {L"C:\\Apps", adminOnly}}, engine, L"", "", 0, kCopied, copy},
      {"a descriptor that cannot be read", {{helper, adminOnly}, {app, adminOnly}}, engine, L"", "", 0, kCopied, copy},
      {"an engine in the data folder, which the user may change",
       {{helper, adminOnly}, {dataEngine, adminOnly}, {app, adminOnly}, {L"C:\\Apps", adminOnly},
        {app + L"\\data", userWritable}}, dataEngine, L"", "", 0,
       {kCopied[0], kCopied[1], kCopied[2], L"copy " + dataEngine + L" > " + copyFolder + L"\\sing-box.exe"}, copy},
      {"no engine: a copied one goes", {}, L"", L"", "", 0,
       {kCopied[0], kCopied[1], kCopied[2], L"delete " + copyFolder + L"\\sing-box.exe"}, copy},
      {"the copy installing again", {}, L"", copy, "", 0, {}, copy},
      {"the folder cannot be protected", {}, engine, L"", "protect", 4, {kCopied[0], kCopied[1]}},
      {"the copy fails", {}, engine, L"", "copy", 4, {kCopied[0], kCopied[1], kCopied[2]}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    testing::FakeLocationPlatform locations;
    locations.modulePath = c.module.empty() ? helper : c.module;
    if (!c.engine.empty()) locations.AddEntry(c.engine);
    FakeFiles files;
    std::tie(files.security, files.failure) = std::tie(c.security, c.failure);
    FakeManager manager;
    EXPECT_EQ(InstallService(manager, files, locations), c.result);
    EXPECT_EQ(files.calls, c.calls);
    EXPECT_EQ(manager.binaryPath, c.registered.empty() ? L"" : L"\"" + c.registered + L"\"");
  }
}

// Wine keeps no descriptor as given (every folder reads back as the user's), so the
// real calls are checked for what they do: the protected folder made, also when it
// is there, its descriptor read back, a file copied over another and deleted.
TEST(Win32ServiceFilesTest, ProtectsCopiesAndReadsBack) {
  testing::TempFolder temp(L"service-files");
  Win32ServiceFiles files;
  const std::wstring folder = temp / L"Service", a = temp / L"a", b = folder + L"\\b";
  EXPECT_EQ(files.CreateProtectedFolder(folder), 0u);
  SecurityDescription security;
  ASSERT_EQ(files.ReadSecurity(folder, security), 0u);
  EXPECT_EQ(security.owner.rfind("S-1-5-", 0), 0u) << security.owner;
  EXPECT_TRUE(!security.dacl.empty() && security.dacl[0].sid.rfind("S-1-", 0) == 0);
  EXPECT_EQ(files.ReadSecurity(temp / L"missing", security), 2u);
  ASSERT_TRUE(testing::WriteFileBytes(a, "new") && testing::WriteFileBytes(b, "old program"));
  EXPECT_EQ(files.CopyReplacing(a, b), 0u);
  EXPECT_EQ(testing::ReadFileBytes(b), "new");
  EXPECT_EQ(files.CreateProtectedFolder(folder), 0u);  // with a file inside
  EXPECT_EQ(files.DeleteIfPresent(b), 0u);
  EXPECT_EQ(files.DeleteIfPresent(b), 0u);
}

}  // namespace
}  // namespace pelno
