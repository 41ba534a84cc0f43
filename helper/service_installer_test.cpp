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

// Records what the installer asks of the manager; fails the calls named in
// `failures` with their error. Setting the description always fails.
class FakeManager : public ServiceControlManager {
 public:
  std::map<std::string, DWORD> failures;
  Calls calls;
  DWORD managerAccess = 0, serviceAccess = 0;
  std::vector<AceSummary> dacl;

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
  bool SetDescription(const std::wstring&) override { return Call("describe"), false; }
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
// that keeps its old binary path or access rules. A new service's description and
// DACL results don't change the result.
TEST(InstallServiceTest, AsksForItsAccessAndMapsOutcomesToResultCodes) {
  const Calls kNew = {"open-manager", "create", "describe", "dacl", "close-service", "close-manager"};
  const Calls kExisting = {"open-manager", "create", "open-service", "reconfigure",
                           "describe", "dacl", "close-service", "close-manager"};
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
  }
}

}  // namespace
}  // namespace pelno
