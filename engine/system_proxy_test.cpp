// The system proxy's failure paths over a fake registry; the values it writes and
// restores on success are checked on the real registry in system_proxy_win_test.
#include "engine/system_proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/testing/fake_proxy_settings_platform.h"

namespace pelno {
namespace {

using testing::FakeProxySettingsPlatform;
using Calls = std::vector<std::string>;

constexpr char kRestoreFailed[] = "Failed to restore Windows system proxy";
constexpr char kEnableFailed[] = "Failed to enable Windows system proxy";
constexpr char kOpenFailed[] = "Failed to open Windows proxy registry key";

TEST(FormatProxyServerTest, ThreeEntriesWithThePortOrTheDefault) {
  EXPECT_EQ(FormatProxyServer(1), L"http=127.0.0.1:1;https=127.0.0.1:1;socks=127.0.0.1:1");
  EXPECT_EQ(FormatProxyServer(65535),
            L"http=127.0.0.1:65535;https=127.0.0.1:65535;socks=127.0.0.1:65535");
  for (const std::int32_t port : {0, -1, 65536, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(FormatProxyServer(port),
              L"http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897")
        << port;
  }
}

TEST(ReadRegistryStringTest, TrailingZerosGoOddSizesAndOtherTypesGiveEmpty) {
  FakeProxySettingsPlatform registry;
  const wchar_t text[] = L"abc\0\0";  // three zeros in all
  registry.Set(L"Zeros", kRegistryTypeExpandString, text, sizeof(text));
  // Half a character more than fits the buffer: the second query fails.
  registry.Set(L"Odd", kRegistryTypeString, "a\0b\0c", 5);
  registry.SetDword(L"Dword", 1);
  const auto key = registry.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kQuery);
  EXPECT_EQ(ReadRegistryString(*key, L"Zeros"), L"abc");
  EXPECT_EQ(ReadRegistryString(*key, L"Odd"), L"");
  EXPECT_EQ(ReadRegistryString(*key, L"Dword"), L"");
}

TEST(RefreshInternetSettingsTest, OnlyWineHasItsRefreshFailureExcused) {
  const struct {
    bool wine;
    std::uint32_t changed, refresh;
    bool ok;
    Calls calls;
  } cases[] = {
      {false, 0, kInternetInvalidOperation, false, {"option:39", "option:37"}},
      {true, 0, kInternetInvalidOperation, true, {"option:39", "option:37"}},
      {true, 0, 87, false, {"option:39", "option:37"}},
      {true, kInternetInvalidOperation, 0, false, {"option:39"}},
  };
  for (const auto& c : cases) {
    FakeProxySettingsPlatform platform;
    platform.wine = c.wine;
    platform.settingsChangedResult = c.changed;
    platform.refreshResult = c.refresh;
    EXPECT_EQ(RefreshInternetSettings(platform), c.ok) << c.wine << " " << c.refresh;
    EXPECT_EQ(platform.calls, c.calls);
  }
}

class SystemProxyTest : public ::testing::Test {
 protected:
  SystemProxyTest() {
    registry.SetDword(L"ProxyEnable", 0);
    registry.SetString(L"ProxyServer", L"corp:8080");
    registry.SetString(L"ProxyOverride", L"*.corp");
  }
  FakeProxySettingsPlatform registry;
  SavedProxySettings saved;
  std::string error;
};

TEST_F(SystemProxyTest, KeyThatCannotBeOpenedFailsAndOnlyASavedCaptureStays) {
  registry.openQueryFails = true;
  EXPECT_FALSE(EnableSystemProxy(saved, 2080, error, registry));
  EXPECT_EQ(error, "Failed to read Windows proxy registry key");
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(registry.calls, (Calls{"open-query"}));
  registry.openQueryFails = false;
  registry.openSetFails = true;
  EXPECT_FALSE(EnableSystemProxy(saved, 2080, error, registry));
  EXPECT_EQ(error, kOpenFailed);
  error.clear();
  EXPECT_FALSE(RestoreSystemProxy(saved, error, registry));
  EXPECT_EQ(error, kOpenFailed);
  EXPECT_TRUE(saved.saved);
}

TEST_F(SystemProxyTest, EnableStopsAtTheFirstFailedWriteAndNotifiesNothing) {
  registry.failingWrites = {L"ProxyServer"};
  EXPECT_FALSE(EnableSystemProxy(saved, 2080, error, registry));
  EXPECT_EQ(error, kEnableFailed);
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(registry.calls, (Calls{"open-query", "close", "open-set", "set:ProxyEnable",
                                   "set:ProxyServer", "close"}));
}

TEST_F(SystemProxyTest, EnableFailsWhenEitherNotificationFailsAndRestoreUndoesIt) {
  for (const auto& [changed, refresh] : {std::pair<std::uint32_t, std::uint32_t>{87, 0}, {0, 87}}) {
    registry.settingsChangedResult = changed;
    registry.refreshResult = refresh;
    EXPECT_FALSE(EnableSystemProxy(saved, 2080, error, registry));
    EXPECT_EQ(error, kEnableFailed);
    EXPECT_EQ(registry.StringValue(L"ProxyServer"), FormatProxyServer(2080));  // not undone
    registry.settingsChangedResult = registry.refreshResult = 0;
    EXPECT_TRUE(RestoreSystemProxy(saved, error, registry));
    EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");
  }
}

TEST_F(SystemProxyTest, RestoreNotificationFailureKeepsSavedAndRetriesSameValues) {
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error, registry));
  registry.refreshResult = 12029;
  EXPECT_FALSE(RestoreSystemProxy(saved, error, registry));
  EXPECT_EQ(error, kRestoreFailed);
  EXPECT_TRUE(saved.saved);

  registry.SetString(L"ProxyOverride", L"changed meanwhile");
  registry.refreshResult = 0;
  error.clear();
  EXPECT_TRUE(RestoreSystemProxy(saved, error, registry));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(registry.StringValue(L"ProxyOverride"), L"*.corp");
}

// A failed write skips the remaining values; a failed delete returns at once.
TEST_F(SystemProxyTest, RestoreStopsAtAFailedWriteOrDeleteAndStaysSaved) {
  for (const bool serverAbsent : {false, true}) {
    FakeProxySettingsPlatform platform = registry;
    if (serverAbsent) platform.values.erase(L"ProxyServer");
    SavedProxySettings settings;
    ASSERT_TRUE(EnableSystemProxy(settings, 2080, error, platform));
    platform.failingWrites = {L"ProxyServer"};
    platform.calls.clear();
    EXPECT_FALSE(RestoreSystemProxy(settings, error, platform));
    EXPECT_EQ(error, kRestoreFailed);
    EXPECT_TRUE(settings.saved);
    const std::string server = serverAbsent ? "delete:ProxyServer" : "set:ProxyServer";
    EXPECT_EQ(platform.calls, (Calls{"open-set", "set:ProxyEnable", server, "close"}));
  }
}

}  // namespace
}  // namespace pelno
