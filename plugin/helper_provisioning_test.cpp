// The provisioning of the helper service before a TUN start, over fakes of the
// service manager, the files and the helper's port.
#include "plugin/helper_provisioning.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "engine/testing/fake_location_platform.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/fake_provisioning_platform.h"

namespace pelno {
namespace {

using testing::FakeHelperTransport;

TEST(ProvisioningTest, RefusalsLeadToTheInstallerOrToTheirMessage) {
  const std::wstring kHelper = L"C:\\Apps\\Client\\PelnoVpnHelperService.exe", kEngine = L"C:\\Apps\\Client\\sing-box.exe";
  const std::wstring kCopy = L"C:\\PF\\PelnoVPN\\Service\\PelnoVpnHelperService.exe";
  const std::wstring kCopyEngine = L"C:\\PF\\PelnoVPN\\Service\\sing-box.exe";
  const std::string kCurrent = "manager open config manager open start ", kInstalled = "manager open config runas manager open start ";
  const struct {
    std::vector<std::uint32_t> openResults, startResults;
    int installerExitCode;
    bool answersOnceRunning;
    std::string error, calls;  // error empty: ready
    bool answering = false;    // before anything is done
    std::wstring installed = L"C:\\Apps\\Client\\PelnoVpnHelperService.exe --x";  // this program file, unquoted
    std::map<std::wstring, std::string> digests = {};  // the copy's and engines' files by their bytes
  } cases[] = {
      {{}, {}, 0, true, "", "", true},
      {{0, 5}, {}, 0, true, "", "manager open config manager open runas manager open start "},
      {{}, {5}, 0, true, "", "manager open config manager open start runas manager open start "},
      {{}, {1056}, 0, true, "", "manager open config manager open start "},
      {{1060}, {}, -1, true, "User canceled UAC or helper service install failed", "manager open runas "},
      {{1060}, {}, 1, true, "PelnoVpnHelperService install failed", "manager open runas "},
      {{}, {1058}, 0, true, "Failed to start PelnoVpnHelperService: error 1058", "manager open config manager open start "},
      {{}, {}, 0, false, "Windows helper service started but did not become ready", "manager open config manager open start "},
      // The protected copy: current with the helper's and the engine's bytes, else installed again.
      {{}, {}, 0, true, "", kCurrent, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kEngine, "e"}, {kCopyEngine, "e"}}},
      {{}, {}, 0, true, "", kCurrent, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kCopyEngine, "e"}}},
      {{}, {}, 0, true, "", kInstalled, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kEngine, "e2"}, {kCopyEngine, "e"}}},
      {{}, {}, 0, true, "", kInstalled, false, kCopy, {{kHelper, "h"}, {kCopy, "h"}, {kEngine, "e"}}},
      {{}, {}, 0, true, "", kInstalled, false, kCopy, {{kHelper, "h2"}, {kCopy, "h"}}},
  };
  for (const auto& c : cases) {
    testing::FakeLocationPlatform locations;
    locations.AddEntry(kHelper);
    if (c.digests.count(kEngine) != 0) locations.AddEntry(kEngine);
    FakeHelperTransport helper(c.answering ? FakeHelperTransport::Replies{{"", {{"pong"}}}} : FakeHelperTransport::Replies{});
    testing::FakeProvisioningPlatform fake;
    fake.helper = &helper;
    std::tie(fake.openResults, fake.startResults, fake.installerExitCode, fake.answersOnceRunning) =
        std::tie(c.openResults, c.startResults, c.installerExitCode, c.answersOnceRunning);
    fake.binaryPath = c.installed;
    fake.digests = c.digests;
    std::string error;
    EXPECT_EQ(EnsureHelperReady(error, {fake, locations, helper}), c.error.empty()) << c.calls;
    if (!c.error.empty()) { EXPECT_EQ(error, c.error); }
    EXPECT_EQ(fake.calls, c.calls);
  }
}

}  // namespace
}  // namespace pelno
