#include "helper/service_installer.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

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
    EXPECT_EQ(InstallService(manager, c.path), c.result);
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

}  // namespace
}  // namespace pelno
