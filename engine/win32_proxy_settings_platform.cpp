#include "engine/win32_proxy_settings_platform.h"

#include <wininet.h>

#include "base/running_under_wine.h"
#include "engine/system_proxy.h"
#include "base/unique_handle.h"

namespace pelno {
namespace {

// Registry calls on a key that someone else keeps open.
class BorrowedKey : public RegistryKey {
 public:
  explicit BorrowedKey(HKEY key) : key_(key) {}

  long QueryValue(const std::wstring& name, std::uint32_t& type, std::uint8_t* data,
                  std::uint32_t& size) override {
    DWORD valueType = 0;
    DWORD valueSize = size;
    const LONG result =
        ::RegQueryValueExW(key_, name.c_str(), nullptr, &valueType, data, &valueSize);
    type = valueType;
    size = valueSize;
    return result;
  }

  long SetDword(const std::wstring& name, std::uint32_t value) override {
    const DWORD data = value;
    return ::RegSetValueExW(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof(data));
  }

  long SetString(const std::wstring& name, const std::wstring& text) override {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  }

  long DeleteValue(const std::wstring& name) override {
    return ::RegDeleteValueW(key_, name.c_str());
  }

 private:
  HKEY key_;
};

// The Internet Settings key, closed with the object.
class OwnedKey : public BorrowedKey {
 public:
  explicit OwnedKey(UniqueRegKey key) : BorrowedKey(key.Get()), key_(std::move(key)) {}

 private:
  UniqueRegKey key_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32ProxySettingsPlatform::OpenInternetSettings(
    KeyAccess access) {
  UniqueRegKey key;
  const REGSAM rights = access == KeyAccess::kQuery ? KEY_QUERY_VALUE : KEY_SET_VALUE;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettingsKeyPath, 0, rights, key.Receive()) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<OwnedKey>(std::move(key));
}

std::unique_ptr<RegistryKey> Win32ProxySettingsPlatform::OpenRecordKey(KeyAccess access) {
  UniqueRegKey key;
  const LONG result =
      access == KeyAccess::kQuery
          ? ::RegOpenKeyExW(HKEY_CURRENT_USER, kRecordKeyPath, 0, KEY_QUERY_VALUE, key.Receive())
          : ::RegCreateKeyExW(HKEY_CURRENT_USER, kRecordKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, key.Receive(), nullptr);
  if (result != ERROR_SUCCESS) return nullptr;
  return std::make_unique<OwnedKey>(std::move(key));
}

std::uint32_t Win32ProxySettingsPlatform::SetInternetOption(std::uint32_t option) {
  if (::InternetSetOptionW(nullptr, option, nullptr, 0)) return 0;
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

bool Win32ProxySettingsPlatform::RunningUnderWine() { return pelno::RunningUnderWine(); }

}  // namespace pelno
