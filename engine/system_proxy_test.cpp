// The system proxy's failure paths over a fake registry; the values it writes and
// restores on success are checked on the real registry by the session tests
// (tests/session/test_session_api.py).
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

TEST(SystemProxyValuesTest, PortFallbackAndRegistryStringReading) {
  EXPECT_EQ(FormatProxyServer(65535), L"http=127.0.0.1:65535;https=127.0.0.1:65535;socks=127.0.0.1:65535");
  for (const std::int32_t port : {0, 65536, INT32_MIN})
    EXPECT_EQ(FormatProxyServer(port), L"http=127.0.0.1:7897;https=127.0.0.1:7897;socks=127.0.0.1:7897");
  FakeProxySettingsPlatform registry;
  const wchar_t text[] = L"abc\0\0";  // three zeros in all, and kept unexpanded
  registry.Set(L"Zeros", kRegistryTypeExpandString, text, sizeof(text));
  registry.SetDword(L"Dword", 1);
  const auto key = registry.OpenInternetSettings(ProxySettingsPlatform::KeyAccess::kQuery);
  EXPECT_EQ(ReadRegistryString(*key, L"Zeros"), L"abc");
  EXPECT_EQ(ReadRegistryString(*key, L"Dword"), std::nullopt);
}

TEST(RefreshInternetSettingsTest, OnlyWineHasItsRefreshFailureExcused) {
  const struct { bool wine; std::uint32_t changed, refresh; bool ok; Calls calls; } cases[] = {
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

// Either notification failing fails the enable (its values stay for the caller's
// restore); a restore whose notification fails stays saved and writes the same
// user values again next time.
TEST_F(SystemProxyTest, NotificationFailuresFailEnableAndRestore) {
  for (const auto& [changed, refresh] : {std::pair<std::uint32_t, std::uint32_t>{87, 0}, {0, 87}}) {
    registry.settingsChangedResult = changed;
    registry.refreshResult = refresh;
    EXPECT_FALSE(EnableSystemProxy(saved, 2080, error, registry));
    EXPECT_EQ(error, kEnableFailed);
    EXPECT_EQ(registry.StringValue(L"ProxyServer"), FormatProxyServer(2080));
  }
  registry.settingsChangedResult = 0;
  registry.refreshResult = 12029;
  EXPECT_FALSE(RestoreSystemProxy(saved, error, registry));
  EXPECT_EQ(error, kRestoreFailed);
  EXPECT_TRUE(saved.saved);
  registry.SetString(L"ProxyOverride", L"changed meanwhile");
  registry.refreshResult = 0;
  EXPECT_TRUE(RestoreSystemProxy(saved, error, registry));
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");
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

// The record of the user's settings goes in before any value is changed, follows a
// second enable's port, and goes once the user's settings are back (an absent value
// deleted, not written empty).
TEST_F(SystemProxyTest, RecordIsWrittenFirstAndRemovedByTheRestore) {
  registry.values.erase(L"ProxyOverride");
  saved.recordName = L"Program";
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error, registry));
  EXPECT_EQ(Calls(registry.calls.begin(), registry.calls.begin() + 4),
            (Calls{"open-query", "close", "record-set:Program", "open-set"}));
  ASSERT_TRUE(EnableSystemProxy(saved, 3080, error, registry));
  ProxyValues user, ours;
  ASSERT_TRUE(ParseProxyRecord(registry.StringValueIn(registry.records, L"Program"), user, ours));
  EXPECT_EQ(user, (ProxyValues{0, L"corp:8080", std::nullopt}));
  EXPECT_EQ(ours, (ProxyValues{1, FormatProxyServer(3080), L"localhost;127.0.0.1;<local>"}));
  registry.values.erase(L"ProxyOverride");  // already gone: counts as deleted
  ASSERT_TRUE(RestoreSystemProxy(saved, error, registry));
  EXPECT_TRUE(registry.records.empty());
  EXPECT_EQ(registry.values.count(L"ProxyOverride"), 0u);
  EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");
}

TEST_F(SystemProxyTest, WithoutARecordTheEnableChangesNothing) {
  registry.recordWritesFail = true;
  saved.recordName = L"Program";
  const auto before = registry.values;
  EXPECT_FALSE(EnableSystemProxy(saved, 2080, error, registry));
  EXPECT_EQ(error, "Failed to save the Windows proxy settings record");
  EXPECT_EQ(registry.calls, (Calls{"open-query", "close", "record-set:Program"}));
  EXPECT_FALSE(saved.saved);
  EXPECT_TRUE(RestoreSystemProxy(saved, error, registry));  // nothing to put back
  EXPECT_EQ(registry.values.size(), before.size());
  EXPECT_EQ(registry.StringValue(L"ProxyServer"), L"corp:8080");
}

// What a program finds of its record at start, and what it does with it.
TEST_F(SystemProxyTest, RecoveryAtStart) {
  const std::wstring ourServer = FormatProxyServer(2080);
  const ProxyValues user{std::nullopt, L"corp:8080", std::nullopt};
  const ProxyValues ours{1, ourServer, L"localhost;127.0.0.1;<local>"};
  const std::wstring whole = FormatProxyRecord(user, ours);
  const struct {
    const char* name;
    std::optional<std::wstring> record;
    std::wstring serverNow;  // ProxyServer found at start
    bool restoreFails;
    ProxyRecovery outcome;
    bool recordKept;
    std::wstring serverAfter;
    std::uint32_t recordType = kRegistryTypeString;  // the record's bytes are its text's
  } cases[] = {
      {"clean last run", std::nullopt, ourServer, false, ProxyRecovery::kNoRecord, false, ourServer},
      {"still ours", whole, ourServer, false, ProxyRecovery::kRestored, false, L"corp:8080"},
      {"changed since", whole, L"other:1", false, ProxyRecovery::kChangedSince, false, L"other:1"},
      {"cut in half", whole.substr(0, whole.size() / 2), ourServer, false,
       ProxyRecovery::kUnreadable, false, ourServer},
      {"another version", L"{\"version\":2,\"user\":{},\"ours\":{}}", ourServer, false,
       ProxyRecovery::kUnreadable, false, ourServer},
      {"restore fails", whole, ourServer, true, ProxyRecovery::kRestoreFailed, true, ourServer},
      {"a number", L"\x0001", ourServer, false, ProxyRecovery::kUnreadable, false, ourServer, 4},
      {"binary", whole, ourServer, false, ProxyRecovery::kUnreadable, false, ourServer, 3},
      {"a whole record as a list", whole, ourServer, false, ProxyRecovery::kUnreadable, false, ourServer, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProxySettingsPlatform platform;
    platform.SetDword(L"ProxyEnable", 1);
    platform.SetString(L"ProxyServer", c.serverNow);
    platform.SetString(L"ProxyOverride", L"localhost;127.0.0.1;<local>");
    if (c.record) platform.SetStringIn(platform.records, L"Program", *c.record);
    if (c.record) platform.records[L"Program"].type = c.recordType;  // REG_DWORD, REG_BINARY, REG_MULTI_SZ
    if (c.restoreFails) platform.failingWrites = {L"ProxyEnable"};
    EXPECT_EQ(RecoverSystemProxy(L"Program", platform), c.outcome);
    EXPECT_EQ(platform.records.count(L"Program"), c.recordKept ? 1u : 0u);
    EXPECT_EQ(platform.StringValue(L"ProxyServer"), c.serverAfter);
    if (c.outcome == ProxyRecovery::kRestored) {
      EXPECT_EQ(platform.values.count(L"ProxyEnable"), 0u);  // absent before: deleted
      EXPECT_EQ(platform.values.count(L"ProxyOverride"), 0u);
    }
  }
}

}  // namespace
}  // namespace pelno
