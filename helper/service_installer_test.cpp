#include "helper/service_installer.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <map>
#include <string>
#include <vector>

namespace pelno {
namespace {

using Calls = std::vector<std::string>;

struct AceSummary {
  std::wstring sid;
  DWORD mask;
  bool operator==(const AceSummary&) const = default;
};

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
  bool OpenExistingService(const ServiceDefinition&, DWORD& error) override {
    return Call("open-service", error);
  }
  bool Reconfigure(const ServiceDefinition&) override { return Call("reconfigure"); }
  bool SetDescription(const std::wstring&) override {
    Call("describe");
    return false;
  }
  bool ApplyDacl(PSECURITY_DESCRIPTOR descriptor) override {
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present && acl) {
      for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(acl, i, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        LPWSTR sid = nullptr;
        ::ConvertSidToStringSidW(&allowed->SidStart, &sid);
        dacl.push_back({sid ? sid : L"?", allowed->Mask});
        ::LocalFree(sid);
      }
    }
    return Call("dacl");
  }
  void CloseService() override { Call("close-service"); }
  void CloseManager() override { Call("close-manager"); }

 private:
  bool Call(const std::string& name, DWORD& error) {
    calls.push_back(name);
    const auto failure = failures.find(name);
    if (failure == failures.end()) return true;
    error = failure->second;
    return false;
  }
  bool Call(const std::string& name) {
    DWORD ignored = 0;
    return Call(name, ignored);
  }
};

const std::wstring kPath = L"C:\\Program Files\\Pelno VPN\\PelnoVpnHelperService.exe";

// System and Administrators get full control, Authenticated Users start and stop.
TEST(InstallServiceTest, AsksForTheAccessItNeedsAndLetsUsersStartAndStop) {
  FakeManager manager;
  EXPECT_EQ(InstallService(manager, kPath), 0);
  EXPECT_EQ(manager.managerAccess, 3u);
  EXPECT_EQ(manager.serviceAccess, 0x40016u);
  const DWORD full = SERVICE_ALL_ACCESS;  // CC DC LC SW RP WP DT LO CR SD RC WD WO
  const DWORD startStop = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;
  EXPECT_EQ(manager.dacl, (std::vector<AceSummary>{{L"S-1-5-18", full},
                                                    {L"S-1-5-32-544", full},
                                                    {L"S-1-5-11", startStop}}));
}

// Result codes: 1 no program path, 2 no manager, 3 no service, or an existing one
// that keeps its old binary path or access rules. A new service's description and
// DACL results don't change the result.
TEST(InstallServiceTest, OutcomesMapToTheirResultCodes) {
  const Calls kNew = {"open-manager", "create", "describe", "dacl", "close-service", "close-manager"};
  const Calls kExisting = {"open-manager", "create", "open-service", "reconfigure",
                           "describe", "dacl", "close-service", "close-manager"};
  const std::pair<std::string, DWORD> kExists = {"create", ERROR_SERVICE_EXISTS};
  const struct {
    const char* name;
    std::wstring path;
    std::map<std::string, DWORD> failures;
    int result;
    Calls calls;
  } cases[] = {
      {"new service", kPath, {}, 0, kNew},
      {"new service, DACL refused", kPath, {{"dacl", 1}}, 0, kNew},
      {"existing service reconfigured in place", kPath, {kExists}, 0, kExisting},
      {"existing service keeps its old access rules", kPath, {kExists, {"dacl", 1}}, 3, kExisting},
      {"no path", L"", {}, 1, {}},
      {"manager denied", kPath, {{"open-manager", ERROR_ACCESS_DENIED}}, 2, {"open-manager"}},
      {"create denied", kPath, {{"create", ERROR_ACCESS_DENIED}}, 3,
       {"open-manager", "create", "close-manager"}},
      {"existing cannot be opened", kPath, {kExists, {"open-service", ERROR_ACCESS_DENIED}}, 3,
       {"open-manager", "create", "open-service", "close-manager"}},
      {"reconfiguration fails", kPath, {kExists, {"reconfigure", 1}}, 3,
       {"open-manager", "create", "open-service", "reconfigure", "close-service", "close-manager"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeManager manager;
    manager.failures = c.failures;
    EXPECT_EQ(InstallService(manager, c.path), c.result);
    EXPECT_EQ(manager.calls, c.calls);
  }
}

}  // namespace
}  // namespace pelno
