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

using testing::ScriptedHelper;

TEST(ProvisioningTest, RefusalsLeadToTheInstallerOrToTheirMessage) {
  const struct {
    std::vector<std::uint32_t> openResults, startResults;
    bool elevationAccepted, answersOnceRunning;
    std::uint32_t installerExitCode;
    std::string error;  // empty: ready
    std::string calls;
  } cases[] = {
      {{0, 5}, {}, true, true, 0, "", "manager open config manager open runas manager open start "},
      {{}, {5}, true, true, 0, "", "manager open config manager open start runas manager open start "},
      {{}, {1056}, true, true, 0, "", "manager open config manager open start "},
      {{1060}, {}, false, true, 0, "User canceled UAC or helper service install failed", "manager open runas "},
      {{1060}, {}, true, true, 1, "PelnoVpnHelperService install failed", "manager open runas "},
      {{}, {1058}, true, true, 0, "Failed to start PelnoVpnHelperService: error 1058", "manager open config manager open start "},
      {{}, {}, true, false, 0, "Windows helper service started but did not become ready", "manager open config manager open start "},
  };
  testing::ProgramFolder program;
  for (const auto& c : cases) {
    testing::FakeProvisioningPlatform fake;
    fake.openResults = c.openResults;
    fake.startResults = c.startResults;
    fake.elevationAccepted = c.elevationAccepted;
    fake.installerExitCode = c.installerExitCode;
    // Installed from this very program file, written in other letter case.
    fake.binaryPath = L"\"" + PathCompareKey(program.helper()) + L"\" --x";
    std::unique_ptr<ScriptedHelper> helper;
    if (c.answersOnceRunning) fake.onRunning = [&helper] {
      helper = std::make_unique<ScriptedHelper>([](auto&) -> std::vector<ScriptedHelper::Piece> {
        return {{ScriptedHelper::Reply("pong")}};
      });
    };
    std::string error;
    EXPECT_EQ(EnsureHelperReady(error, {fake, program.locations}), c.error.empty()) << c.calls;
    if (!c.error.empty()) EXPECT_EQ(error, c.error);
    EXPECT_EQ(fake.calls, c.calls);
  }
}

void StopService(bool remove) {
  const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  const SC_HANDLE service = ::OpenServiceW(manager, kHelperServiceName, SERVICE_ALL_ACCESS);
  SERVICE_STATUS status = {};
  ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 100 && HelperAnswersPing(); ++i) ::Sleep(100);
  EXPECT_TRUE(!remove || ::DeleteService(service));
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
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
  StopService(false);
  EXPECT_TRUE(EnsureHelperReady(error, {SystemProvisioningPlatform(), second.locations})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {SystemProvisioningPlatform(), second.locations}));
  EXPECT_TRUE(current);
  StopService(true);
}

}  // namespace
}  // namespace pelno
