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

TEST(FormatProxyServerTest, ThreeEntriesWithThePortOrTheDefault) {
  EXPECT_EQ(FormatProxyServer(2080),
            L"http=127.0.0.1:2080;https=127.0.0.1:2080;socks=127.0.0.1:2080");
  EXPECT_EQ(FormatProxyServer(1), L"http=127.0.0.1:1;https=127.0.0.1:1;socks=127.0.0.1:1");
  EXPECT_EQ(FormatProxyServer(65535),
            L"http=127.0.0.1:65535;https=127.0.0.1:65535;socks=127.0.0.1:65535");
  const std::wstring fallback = L"http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897";
  for (const std::int32_t port : {0, -1, 65536, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(FormatProxyServer(port), fallback) << port;
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

TEST_F(SystemProxyTest, EnableSavesThenWritesAndNotifies) {
  ASSERT_TRUE(EnableSystemProxy(registry, saved, 2080, error));
  EXPECT_EQ(error, "");
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(saved.proxyServer, L"corp:8080");
  EXPECT_EQ(saved.proxyOverride, L"*.corp");
  // The values written are checked against the real registry in system_proxy_win_test.
  EXPECT_EQ(registry.calls, (Calls{"open-query", "close", "open-set", "set:ProxyEnable",
                                   "set:ProxyServer", "set:ProxyOverride", "close", "option:39",
                                   "option:37"}));
}

TEST_F(SystemProxyTest, AbsentOrEmptyValuesAreDeletedOnRestore) {
  registry.values.erase(L"ProxyServer");
  registry.SetString(L"ProxyOverride", L"");
  ASSERT_TRUE(EnableSystemProxy(registry, saved, 2080, error));
  ASSERT_TRUE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(registry.values.count(L"ProxyServer"), 0u);
  EXPECT_EQ(registry.values.count(L"ProxyOverride"), 0u);
}

TEST_F(SystemProxyTest, ReadRegistryStringDropsTrailingZeros) {
  FakeProxySettingsPlatform::Value value{kRegistryTypeString, {}};
  const wchar_t text[] = L"abc\0\0";
  value.bytes.assign(reinterpret_cast<const std::uint8_t*>(text),
                     reinterpret_cast<const std::uint8_t*>(text) + sizeof(text));
  registry.values[L"ProxyServer"] = value;
  auto key = registry.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kQuery);
  EXPECT_EQ(ReadRegistryString(*key, L"ProxyServer"), L"abc");
  EXPECT_EQ(ReadRegistryString(*key, L"Missing"), L"");

  // A size that is not a whole number of characters: the buffer is one byte short,
  // the second query fails, the text is empty.
  value.bytes.push_back(0x41);
  registry.values[L"ProxyServer"] = value;
  EXPECT_EQ(ReadRegistryString(*key, L"ProxyServer"), L"");
}

TEST_F(SystemProxyTest, SaveFailsWhenTheKeyCannotBeRead) {
  registry.openQueryFails = true;
  EXPECT_FALSE(EnableSystemProxy(registry, saved, 2080, error));
  EXPECT_EQ(error, "Failed to read Windows proxy registry key");
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(registry.calls, (Calls{"open-query"}));
}

TEST_F(SystemProxyTest, EnableFailsWhenTheKeyCannotBeOpenedForWriting) {
  registry.openSetFails = true;
  EXPECT_FALSE(EnableSystemProxy(registry, saved, 2080, error));
  EXPECT_EQ(error, "Failed to open Windows proxy registry key");
  EXPECT_TRUE(saved.saved);
  error.clear();
  EXPECT_FALSE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(error, "Failed to open Windows proxy registry key");
  EXPECT_TRUE(saved.saved);
}

TEST_F(SystemProxyTest, EnableStopsAtTheFirstFailedWriteAndStaysSaved) {
  registry.failingWrites = {L"ProxyServer"};
  EXPECT_FALSE(EnableSystemProxy(registry, saved, 2080, error));
  EXPECT_EQ(error, kEnableFailed);
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(registry.DwordValue(L"ProxyEnable"), 1u);  // not undone here
  EXPECT_EQ(registry.StringValue(L"ProxyOverride"), L"*.corp");
  EXPECT_EQ(registry.calls, (Calls{"open-query", "close", "open-set", "set:ProxyEnable",
                                   "set:ProxyServer", "close"}));
  EXPECT_EQ(registry.openKeys, 0);
}

TEST_F(SystemProxyTest, EnableFailsWhenEitherNotificationFails) {
  registry.settingsChangedResult = 87;
  EXPECT_FALSE(EnableSystemProxy(registry, saved, 2080, error));
  EXPECT_EQ(error, kEnableFailed);
  EXPECT_EQ(registry.calls.back(), "option:39");  // no refresh after a failed change notice

  registry.settingsChangedResult = 0;
  registry.refreshResult = 87;
  error.clear();
  EXPECT_FALSE(EnableSystemProxy(registry, saved, 2080, error));
  EXPECT_EQ(error, kEnableFailed);
}

TEST_F(SystemProxyTest, RestoreNotificationFailureKeepsSavedAndRetriesSameValues) {
  ASSERT_TRUE(EnableSystemProxy(registry, saved, 2080, error));
  registry.refreshResult = 12029;
  EXPECT_FALSE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(error, kRestoreFailed);
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");

  registry.SetString(L"ProxyServer", L"changed meanwhile");
  registry.refreshResult = 0;
  registry.calls.clear();
  error.clear();
  EXPECT_TRUE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");
  EXPECT_EQ(registry.calls, (Calls{"open-set", "set:ProxyEnable", "set:ProxyServer",
                                   "set:ProxyOverride", "close", "option:39", "option:37"}));
}

TEST_F(SystemProxyTest, RestoreDeleteFailingOtherwiseStopsAtOnce) {
  registry.values.erase(L"ProxyServer");
  ASSERT_TRUE(EnableSystemProxy(registry, saved, 2080, error));
  registry.deleteResults[L"ProxyServer"] = 5;
  registry.calls.clear();
  EXPECT_FALSE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(error, kRestoreFailed);
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(registry.calls, (Calls{"open-set", "set:ProxyEnable", "delete:ProxyServer", "close"}));
  EXPECT_EQ(registry.StringValue(L"ProxyOverride"), L"localhost;127.0.0.1;<local>");
}

TEST_F(SystemProxyTest, RestoreDeleteOfMissingValueCountsAsSuccess) {
  registry.values.erase(L"ProxyOverride");
  ASSERT_TRUE(SaveSystemProxy(registry, saved, error));
  registry.deleteResults[L"ProxyOverride"] = kRegistryValueNotFound;
  EXPECT_TRUE(RestoreSystemProxy(registry, saved, error));
  EXPECT_FALSE(saved.saved);
}

TEST_F(SystemProxyTest, RestoreWriteFailureLeavesOverrideUntouchedAndNotifiesNothing) {
  ASSERT_TRUE(EnableSystemProxy(registry, saved, 2080, error));
  registry.failingWrites = {L"ProxyServer"};
  registry.calls.clear();
  EXPECT_FALSE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(error, kRestoreFailed);
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(registry.calls, (Calls{"open-set", "set:ProxyEnable", "set:ProxyServer", "close"}));
}

TEST_F(SystemProxyTest, FailedEnableIsUndoneByTheFollowingRestore) {
  registry.refreshResult = 5;
  EXPECT_FALSE(EnableSystemProxy(registry, saved, 2080, error));
  registry.refreshResult = 0;
  EXPECT_TRUE(RestoreSystemProxy(registry, saved, error));
  EXPECT_EQ(registry.DwordValue(L"ProxyEnable"), 0u);
  EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");
}

TEST(RefreshInternetSettingsTest, InvalidOperationOnRefreshIsAcceptedOnlyUnderWine) {
  FakeProxySettingsPlatform platform;
  platform.refreshResult = kInternetInvalidOperation;
  EXPECT_FALSE(RefreshInternetSettings(platform));  // Windows
  platform.wine = true;
  EXPECT_TRUE(RefreshInternetSettings(platform));
  platform.refreshResult = 87;  // any other refresh failure still fails under Wine
  EXPECT_FALSE(RefreshInternetSettings(platform));
  platform.refreshResult = kInternetInvalidOperation;
  platform.settingsChangedResult = kInternetInvalidOperation;  // only the refresh is excused
  EXPECT_FALSE(RefreshInternetSettings(platform));
  EXPECT_EQ(platform.calls.back(), "option:39");
}

TEST(RefreshInternetSettingsTest, EnableUnderWineSucceedsDespiteRefreshFailure) {
  FakeProxySettingsPlatform platform;
  platform.refreshResult = kInternetInvalidOperation;
  platform.wine = true;
  SavedProxySettings saved;
  std::string error;
  EXPECT_TRUE(EnableSystemProxy(platform, saved, 2080, error));
  platform.wine = false;
  EXPECT_FALSE(RestoreSystemProxy(platform, saved, error));
  EXPECT_EQ(error, kRestoreFailed);
}

}  // namespace
}  // namespace pelno
