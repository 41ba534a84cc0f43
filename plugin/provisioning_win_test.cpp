// Provisioning of the helper service: the real service manager under Wine for what
// it can show, a fake for the refusals it never gives.
#include <windows.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include "plugin/helper_client.h"
#include "plugin/helper_provisioning.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/testing/scripted_helper.h"

namespace pelno {
namespace {

using testing::FakeProvisioningPlatform;

TEST(ProvisioningTest, RefusalsLeadToTheInstallerOrToTheirMessage) {
  const struct {
    const char* name;
    std::vector<std::uint32_t> openResults, startResults;
    bool elevationAccepted;
    std::uint32_t installerExitCode;
    bool answersOnceRunning;
    std::string error;  // empty: ready
    std::string calls;
  } cases[] = {
      {"open denied", {0, 5}, {}, true, 0, true, "", "manager open config manager open runas manager open start "},
      {"start denied", {}, {5}, true, 0, true, "", "manager open config manager open start runas manager open start "},
      {"already running", {}, {1056}, true, 0, true, "", "manager open config manager open start "},
      {"declined", {1060}, {}, false, 0, true, "User canceled UAC or helper service install failed", "manager open runas "},
      {"installer fails", {1060}, {}, true, 1, true, "PelnoVpnHelperService install failed", "manager open runas "},
      {"start fails", {}, {1058}, true, 0, true, "Failed to start PelnoVpnHelperService: error 1058",
       "manager open config manager open start "},
      {"never ready", {}, {}, true, 0, false, "Windows helper service started but did not become ready",
       "manager open config manager open start "},
  };
  testing::ProgramFolder program;
  for (const auto& c : cases) {
    FakeProvisioningPlatform fake;
    fake.openResults = c.openResults;
    fake.startResults = c.startResults;
    fake.elevationAccepted = c.elevationAccepted;
    fake.installerExitCode = c.installerExitCode;
    // Installed from this very program file, written in other letter case.
    fake.binaryPath = L"\"" + PathCompareKey(program.helper()) + L"\" --x";
    std::unique_ptr<testing::ScriptedHelper> helper;
    if (c.answersOnceRunning) fake.onRunning = [&helper] {
      helper = std::make_unique<testing::ScriptedHelper>([](const auto&) -> std::vector<testing::ScriptedHelper::Piece> {
        return {{testing::ScriptedHelper::Reply("pong")}};
      });
    };
    std::string error;
    EXPECT_EQ(EnsureHelperReady(error, {fake, program.locations}), c.error.empty()) << c.name;
    if (!c.error.empty()) EXPECT_EQ(error, c.error) << c.name;
    std::string calls;
    for (const std::string& call : fake.calls) calls += (call.rfind("runas", 0) == 0 ? "runas" : call) + " ";
    EXPECT_EQ(calls, c.calls) << c.name;
  }
}

bool StopService() {
  const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  const SC_HANDLE service = ::OpenServiceW(manager, kHelperServiceName, SERVICE_ALL_ACCESS);
  SERVICE_STATUS status = {};
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 100 && HelperAnswersPing(); ++i) ::Sleep(100);
  ::Sleep(500);
  const bool deleted = ::DeleteService(service) != FALSE;
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  return deleted;
}

// Wine's service manager: a missing service is installed through "runas" and
// started; installed from another folder (and stopped), it is installed anew.
TEST(ProvisioningTest, RealServiceManagerInstallsStartsAndReinstalls) {
  testing::ProgramFolder first, second;
  std::string error;
  bool current = false;
  std::wstring installed;
  ASSERT_FALSE(QueryInstalledHelper(current, installed, error, {SystemProvisioningPlatform(), first.locations}));
  ASSERT_TRUE(EnsureHelperReady(error, {SystemProvisioningPlatform(), first.locations})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {SystemProvisioningPlatform(), first.locations}));
  EXPECT_TRUE(current);
  EXPECT_EQ(PathCompareKey(installed), PathCompareKey(first.helper()));

  SERVICE_STATUS status = {};
  const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  const SC_HANDLE service = ::OpenServiceW(manager, kHelperServiceName, SERVICE_ALL_ACCESS);
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  for (int i = 0; i < 100 && HelperAnswersPing(); ++i) ::Sleep(100);

  EXPECT_TRUE(EnsureHelperReady(error, {SystemProvisioningPlatform(), second.locations})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {SystemProvisioningPlatform(), second.locations}));
  EXPECT_TRUE(current);
  EXPECT_TRUE(StopService());
}

}  // namespace
}  // namespace pelno
