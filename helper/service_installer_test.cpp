#include "helper/service_installer.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace pelno {
namespace {

struct AceSummary {
  std::wstring sid;
  DWORD mask;
  bool operator==(const AceSummary&) const = default;
};

// Records what the installer asks of the manager; fails what a test asks it to.
class FakeManager : public ServiceControlManager {
 public:
  DWORD openManagerError = 0, createError = 0, openServiceError = 0;
  bool reconfigureOk = true, daclOk = true;
  DWORD managerAccess = 0;
  std::vector<std::string> calls;
  ServiceDefinition created, reconfigured;
  std::wstring description;
  std::vector<AceSummary> dacl;
  bool managerOpen = false, serviceOpen = false;

  bool OpenManager(DWORD access, DWORD& error) override {
    calls.push_back("open-manager");
    managerAccess = access;
    if (openManagerError) return error = openManagerError, false;
    return managerOpen = true;
  }
  bool CreateOwnService(const ServiceDefinition& s, DWORD& error) override {
    calls.push_back("create");
    created = s;
    if (createError) return error = createError, false;
    return serviceOpen = true;
  }
  bool OpenExistingService(const ServiceDefinition&, DWORD& error) override {
    calls.push_back("open-service");
    if (openServiceError) return error = openServiceError, false;
    return serviceOpen = true;
  }
  bool Reconfigure(const ServiceDefinition& s) override {
    calls.push_back("reconfigure");
    reconfigured = s;
    return reconfigureOk;
  }
  bool SetDescription(const std::wstring& text) override {
    calls.push_back("describe");
    description = text;
    return false;
  }
  bool ApplyDacl(PSECURITY_DESCRIPTOR descriptor) override {
    calls.push_back("dacl");
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl)
      return false;
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
    return daclOk;
  }
  void CloseService() override {
    calls.push_back("close-service");
    serviceOpen = false;
  }
  void CloseManager() override {
    calls.push_back("close-manager");
    managerOpen = false;
  }
};

using Calls = std::vector<std::string>;
const std::wstring kPath = L"C:\\Program Files\\Pelno VPN\\PelnoVpnHelperService.exe";

TEST(InstallServiceTest, CreatesAnAutoStartOwnProcessServiceWithQuotedPathAndDacl) {
  FakeManager manager;
  EXPECT_EQ(InstallService(manager, kPath), 0);
  EXPECT_EQ(manager.managerAccess, 3u);
  EXPECT_EQ(manager.created.name, L"PelnoVpnHelperService");
  EXPECT_EQ(manager.created.displayName, L"Pelno VPN Helper Service");
  EXPECT_EQ(manager.created.binaryPath, L"\"" + kPath + L"\"");
  EXPECT_EQ(manager.created.serviceType, 16u);
  EXPECT_EQ(manager.created.startType, 2u);
  EXPECT_EQ(manager.created.errorControl, 1u);
  EXPECT_EQ(manager.created.serviceAccess, 0x40016u);
  EXPECT_EQ(manager.description, L"Runs sing-box TUN mode for Pelno VPN.");
  EXPECT_EQ(manager.calls,
            (Calls{"open-manager", "create", "describe", "dacl", "close-service", "close-manager"}));
  // System and Administrators get full control, Authenticated Users start and stop.
  const DWORD full = SERVICE_ALL_ACCESS;  // CC DC LC SW RP WP DT LO CR SD RC WD WO
  const DWORD startStop = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;
  EXPECT_EQ(manager.dacl, (std::vector<AceSummary>{{L"S-1-5-18", full},
                                                    {L"S-1-5-32-544", full},
                                                    {L"S-1-5-11", startStop}}));
}

TEST(InstallServiceTest, ExistingServiceIsReconfiguredInPlace) {
  FakeManager manager;
  manager.createError = ERROR_SERVICE_EXISTS;
  manager.daclOk = false;
  EXPECT_EQ(InstallService(manager, kPath), 3);  // the old access rules stay: not installed
  manager.calls.clear();
  manager.daclOk = true;
  EXPECT_EQ(InstallService(manager, kPath), 0);
  EXPECT_EQ(manager.calls, (Calls{"open-manager", "create", "open-service", "reconfigure",
                                  "describe", "dacl", "close-service", "close-manager"}));
  EXPECT_EQ(manager.reconfigured.binaryPath, L"\"" + kPath + L"\"");
  EXPECT_EQ(manager.reconfigured.startType, 2u);
  EXPECT_EQ(manager.reconfigured.displayName, L"Pelno VPN Helper Service");
}

// Result codes: 1 no program path, 2 no manager, 3 no service, or an existing one
// that keeps its old binary path. A new service's description and DACL results
// don't change the result.
TEST(InstallServiceTest, FailuresMapToTheirResultCodes) {
  const struct {
    const char* name;
    std::wstring path;
    DWORD openManagerError, createError, openServiceError;
    bool reconfigureOk, daclOk;
    int result;
    Calls calls;
  } cases[] = {
      {"no path", L"", 0, 0, 0, true, true, 1, {}},
      {"manager denied", kPath, ERROR_ACCESS_DENIED, 0, 0, true, true, 2, {"open-manager"}},
      {"create denied", kPath, 0, ERROR_ACCESS_DENIED, 0, true, true, 3,
       {"open-manager", "create", "close-manager"}},
      {"existing cannot be opened", kPath, 0, ERROR_SERVICE_EXISTS, ERROR_ACCESS_DENIED, true,
       true, 3, {"open-manager", "create", "open-service", "close-manager"}},
      {"reconfiguration fails", kPath, 0, ERROR_SERVICE_EXISTS, 0, false, true, 3,
       {"open-manager", "create", "open-service", "reconfigure", "close-service",
        "close-manager"}},
      {"new service, DACL refused", kPath, 0, 0, 0, true, false, 0,
       {"open-manager", "create", "describe", "dacl", "close-service", "close-manager"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeManager manager;
    manager.openManagerError = c.openManagerError;
    manager.createError = c.createError;
    manager.openServiceError = c.openServiceError;
    manager.reconfigureOk = c.reconfigureOk;
    manager.daclOk = c.daclOk;
    EXPECT_EQ(InstallService(manager, c.path), c.result);
    EXPECT_EQ(manager.calls, c.calls);
    EXPECT_FALSE(manager.managerOpen && c.result != 0);
  }
}

}  // namespace
}  // namespace pelno
