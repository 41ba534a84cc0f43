// The system proxy against the real registry of the Wine prefix (HKCU).
#include "engine/system_proxy.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/running_under_wine.h"
#include "base/unique_handle.h"
#include "engine/win32_proxy_settings_platform.h"

namespace pelno {
namespace {

struct RegistryValue {
  bool present = false;
  DWORD type = 0;
  std::vector<BYTE> bytes;
};

UniqueRegKey OpenSettings(REGSAM access) {
  UniqueRegKey key;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettingsKeyPath, 0, nullptr, 0, access, nullptr,
                    key.Receive(), nullptr);
  return key;
}

RegistryValue Read(const wchar_t* name) {
  RegistryValue value;
  UniqueRegKey key = OpenSettings(KEY_QUERY_VALUE);
  DWORD size = 0;
  if (::RegQueryValueExW(key.Get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
    return value;
  }
  value.bytes.resize(size);
  value.present = ::RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.bytes.data(),
                                     &size) == ERROR_SUCCESS;
  return value;
}

std::wstring Text(const RegistryValue& value) {
  std::wstring text(reinterpret_cast<const wchar_t*>(value.bytes.data()),
                    value.bytes.size() / sizeof(wchar_t));
  return text;
}

void WriteString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  UniqueRegKey key = OpenSettings(KEY_SET_VALUE);
  ASSERT_EQ(::RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void WriteDword(const wchar_t* name, DWORD data) {
  UniqueRegKey key = OpenSettings(KEY_SET_VALUE);
  ASSERT_EQ(::RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                             sizeof(data)),
            ERROR_SUCCESS);
}

// Left enabled, these values would reroute the prefix's WinINet for later tests.
void RemoveProxyValues() {
  UniqueRegKey key = OpenSettings(KEY_SET_VALUE);
  for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"}) {
    ::RegDeleteValueW(key.Get(), name);
  }
}

class RegistryProxyTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveProxyValues(); }
  void TearDown() override { RemoveProxyValues(); }

  void WriteUserSettings() {
    WriteDword(L"ProxyEnable", 1);
    WriteString(L"ProxyServer", L"corp-proxy:8080");
    WriteString(L"ProxyOverride", L"*.corp;<local>");
  }

  SavedProxySettings saved;
  std::string error;
};

TEST_F(RegistryProxyTest, EnableWritesTheExactValues) {
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error)) << error;
  const RegistryValue enable = Read(L"ProxyEnable");
  ASSERT_TRUE(enable.present);
  EXPECT_EQ(enable.type, static_cast<DWORD>(REG_DWORD));
  ASSERT_EQ(enable.bytes.size(), 4u);
  EXPECT_EQ(enable.bytes, (std::vector<BYTE>{1, 0, 0, 0}));

  const RegistryValue server = Read(L"ProxyServer");
  ASSERT_TRUE(server.present);
  EXPECT_EQ(server.type, static_cast<DWORD>(REG_SZ));
  const std::wstring expected = L"http=127.0.0.1:2080;https=127.0.0.1:2080;socks=127.0.0.1:2080";
  EXPECT_EQ(Text(server), expected + L'\0');  // the terminating zero is part of the data

  const RegistryValue override = Read(L"ProxyOverride");
  EXPECT_EQ(override.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Text(override), std::wstring(L"localhost;127.0.0.1;<local>") + L'\0');
}

TEST_F(RegistryProxyTest, EnableTwiceThenRestoreOnceGivesTheFirstCapture) {
  WriteUserSettings();
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error)) << error;
  EXPECT_EQ(saved.proxyEnable, 1u);
  EXPECT_EQ(saved.proxyServer, L"corp-proxy:8080");
  EXPECT_EQ(saved.proxyOverride, L"*.corp;<local>");
  ASSERT_TRUE(EnableSystemProxy(saved, 3080, error)) << error;
  ASSERT_TRUE(RestoreSystemProxy(saved, error)) << error;
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(Read(L"ProxyEnable").bytes, (std::vector<BYTE>{1, 0, 0, 0}));
  EXPECT_EQ(Text(Read(L"ProxyServer")), std::wstring(L"corp-proxy:8080") + L'\0');
  EXPECT_EQ(Text(Read(L"ProxyOverride")), std::wstring(L"*.corp;<local>") + L'\0');
}

TEST_F(RegistryProxyTest, AbsentValuesAreDeletedAgainOnRestore) {
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error)) << error;
  ASSERT_TRUE(Read(L"ProxyServer").present);
  ASSERT_TRUE(RestoreSystemProxy(saved, error)) << error;
  EXPECT_FALSE(Read(L"ProxyServer").present);
  EXPECT_FALSE(Read(L"ProxyOverride").present);
  // ProxyEnable could not be read, so 0 is written back.
  EXPECT_EQ(Read(L"ProxyEnable").bytes, (std::vector<BYTE>{0, 0, 0, 0}));
}

TEST_F(RegistryProxyTest, ExpandableStringComesBackAsPlainStringUnexpanded) {
  WriteString(L"ProxyServer", L"%COMPUTERNAME%:3128", REG_EXPAND_SZ);
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error)) << error;
  EXPECT_EQ(saved.proxyServer, L"%COMPUTERNAME%:3128");
  ASSERT_TRUE(RestoreSystemProxy(saved, error)) << error;
  const RegistryValue server = Read(L"ProxyServer");
  EXPECT_EQ(server.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Text(server), std::wstring(L"%COMPUTERNAME%:3128") + L'\0');
}

TEST_F(RegistryProxyTest, RestoreWithoutEnableTouchesNothing) {
  WriteString(L"ProxyServer", L"%X%:1", REG_EXPAND_SZ);
  WriteDword(L"ProxyEnable", 7);
  error = "untouched";
  EXPECT_TRUE(RestoreSystemProxy(saved, error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(Read(L"ProxyServer").type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(Read(L"ProxyEnable").bytes, (std::vector<BYTE>{7, 0, 0, 0}));
  EXPECT_FALSE(Read(L"ProxyOverride").present);
}

TEST_F(RegistryProxyTest, ReadRegistryStringOnAnOpenKey) {
  WriteString(L"ProxyOverride", L"a;b");
  WriteDword(L"ProxyEnable", 1);
  UniqueRegKey key = OpenSettings(KEY_QUERY_VALUE);
  EXPECT_EQ(ReadRegistryString(key.Get(), L"ProxyOverride"), L"a;b");
  EXPECT_EQ(ReadRegistryString(key.Get(), L"ProxyEnable"), L"");
  EXPECT_EQ(ReadRegistryString(key.Get(), L"ProxyServer"), L"");
}

// Wine's WinINet refuses INTERNET_OPTION_REFRESH with 12018 although the changed
// settings take effect; only there that failure is taken as success.
TEST_F(RegistryProxyTest, RefreshSucceedsUnderWineDespiteItsRefreshFailure) {
  ASSERT_TRUE(RunningUnderWine()) << "these tests run under Wine";
  Win32ProxySettingsPlatform platform;
  EXPECT_TRUE(platform.RunningUnderWine());
  EXPECT_EQ(platform.SetInternetOption(kInternetOptionSettingsChanged), 0u);
  const std::uint32_t refresh = platform.SetInternetOption(kInternetOptionRefresh);
  EXPECT_TRUE(refresh == 0 || refresh == kInternetInvalidOperation) << refresh;
  EXPECT_TRUE(RefreshInternetSettings());
}

}  // namespace
}  // namespace pelno
