// The system proxy against the real registry of the Wine prefix (HKCU): the
// success paths, with the exact values written and restored.
#include "engine/system_proxy.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "engine/win32_proxy_settings_platform.h"

namespace pelno {
namespace {

// A value as stored; type 0 and no bytes when absent.
struct Stored {
  DWORD type = 0;
  std::vector<BYTE> bytes;
  bool operator==(const Stored&) const = default;
};
void PrintTo(const Stored& value, std::ostream* out) {
  *out << "type " << value.type << " " << ::testing::PrintToString(value.bytes);
}

Stored Sz(const std::wstring& text, DWORD type = REG_SZ) {  // the terminating zero included
  const auto* data = reinterpret_cast<const BYTE*>(text.c_str());
  return {type, std::vector<BYTE>(data, data + (text.size() + 1) * sizeof(wchar_t))};
}
Stored Dword(BYTE low) { return {REG_DWORD, {low, 0, 0, 0}}; }

Stored Read(const wchar_t* name) {
  Stored value{0, std::vector<BYTE>(512)};
  DWORD size = 512;
  if (::RegGetValueW(HKEY_CURRENT_USER, kInternetSettingsKeyPath, name, RRF_RT_ANY | RRF_NOEXPAND,
                     &value.type, value.bytes.data(), &size) != ERROR_SUCCESS) {
    return {};
  }
  value.bytes.resize(size);
  return value;
}

void Write(const wchar_t* name, const Stored& value) {
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettingsKeyPath, name, value.type,
                              value.bytes.data(), static_cast<DWORD>(value.bytes.size())),
            ERROR_SUCCESS);
}

void Delete(const wchar_t* name) {
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kInternetSettingsKeyPath, name);
}

// Left enabled, these values would reroute the prefix's WinINet for later tests.
void RemoveProxyValues() {
  for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"}) Delete(name);
}

class RegistryProxyTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveProxyValues(); }
  void TearDown() override { RemoveProxyValues(); }

  SavedProxySettings saved;
  std::string error;
};

// The real registry: enabling twice keeps the first capture, and the restore brings
// back each value as it was: absent stays absent, empty stays empty, an expandable
// string comes back unexpanded (as REG_SZ). Under Wine the refresh notification
// fails with 12018; these enables succeed anyway. (The values an enable writes are
// read back from the real registry by the session tests.)
TEST_F(RegistryProxyTest, EnableTwiceThenRestoreGivesBackTheFirstCaptureExactly) {
  Write(L"ProxyServer", Sz(L"%COMPUTERNAME%:3128", REG_EXPAND_SZ));
  Write(L"ProxyOverride", Sz(L""));
  ASSERT_TRUE(EnableSystemProxy(saved, 2080, error)) << error;
  ASSERT_TRUE(EnableSystemProxy(saved, 3080, error)) << error;
  EXPECT_EQ(Read(L"ProxyEnable"), Dword(1));
  ASSERT_TRUE(RestoreSystemProxy(saved, error)) << error;
  EXPECT_FALSE(saved.saved);
  EXPECT_EQ(Read(L"ProxyEnable"), Stored{});
  EXPECT_EQ(Read(L"ProxyServer"), Sz(L"%COMPUTERNAME%:3128"));
  EXPECT_EQ(Read(L"ProxyOverride"), Sz(L""));
}

}  // namespace
}  // namespace pelno
