// The Internet Settings key and WinINet's notification held in memory, with
// switches for the failures that a real registry does not produce on demand.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/proxy_settings_platform.h"

namespace pelno::testing {

class FakeProxySettingsPlatform : public ProxySettingsPlatform {
 public:
  struct Value {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
  };

  std::map<std::wstring, Value> values;
  // HKCU\Software\PelnoVPN, where the record of the user's settings lives.
  std::map<std::wstring, Value> records;
  bool recordWritesFail = false;
  bool openQueryFails = false;
  bool openSetFails = false;
  std::set<std::wstring> failingWrites;  // writes and deletes of these fail with 5
  std::uint32_t settingsChangedResult = 0;
  std::uint32_t refreshResult = 0;
  bool wine = false;
  // Every call in order: "open-query", "open-set", "close", "set:Name", "delete:Name",
  // "option:39"; on the record key "record-set:Name", "record-delete:Name".
  std::vector<std::string> calls;

  static Value MakeValue(std::uint32_t type, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return {type, std::vector<std::uint8_t>(bytes, bytes + size)};
  }
  void Set(const std::wstring& name, std::uint32_t type, const void* data, std::size_t size) {
    values[name] = MakeValue(type, data, size);
  }
  static void SetStringIn(std::map<std::wstring, Value>& key, const std::wstring& name, const std::wstring& text) {
    key[name] = MakeValue(kRegistryTypeString, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  void SetString(const std::wstring& name, const std::wstring& text) { SetStringIn(values, name, text); }
  void SetDword(const std::wstring& name, std::uint32_t data) { Set(name, 4, &data, 4); }
  // The text without its terminating zero.
  std::wstring StringValue(const std::wstring& name) const { return StringValueIn(values, name); }
  static std::wstring StringValueIn(const std::map<std::wstring, Value>& key, const std::wstring& name) {
    const std::vector<std::uint8_t>& bytes = key.at(name).bytes;
    std::wstring text(bytes.size() / sizeof(wchar_t) - 1, L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    return text;
  }

  std::unique_ptr<RegistryKey> OpenInternetSettings(KeyAccess access) override {
    const bool query = access == KeyAccess::kQuery;
    calls.push_back(query ? "open-query" : "open-set");
    if (query ? openQueryFails : openSetFails) return nullptr;
    return std::make_unique<Key>(*this, values, "");
  }
  std::unique_ptr<RegistryKey> OpenRecordKey(KeyAccess) override {
    return std::make_unique<Key>(*this, records, "record-");
  }
  std::uint32_t SetInternetOption(std::uint32_t option) override {
    calls.push_back("option:" + std::to_string(option));
    return option == kInternetOptionSettingsChanged ? settingsChangedResult : refreshResult;
  }
  bool RunningUnderWine() override { return wine; }

 private:
  class Key : public RegistryKey {
   public:
    Key(FakeProxySettingsPlatform& owner, std::map<std::wstring, Value>& values, std::string prefix)
        : owner_(owner), values_(values), prefix_(std::move(prefix)) {}
    ~Key() override {
      if (prefix_.empty()) owner_.calls.push_back("close");
    }

    long QueryValue(const std::wstring& name, std::uint32_t& type, std::uint8_t* data,
                    std::uint32_t& size) override {
      const auto it = values_.find(name);
      if (it == values_.end()) return kRegistryValueNotFound;
      const auto needed = static_cast<std::uint32_t>(it->second.bytes.size());
      const bool fits = data == nullptr || size >= needed;
      if (data != nullptr && fits) std::memcpy(data, it->second.bytes.data(), needed);
      type = it->second.type;
      size = needed;
      return fits ? kRegistrySuccess : 234;  // ERROR_MORE_DATA
    }
    long SetDword(const std::wstring& name, std::uint32_t value) override {
      if (!Write(name)) return 5;
      values_[name] = MakeValue(4, &value, 4);
      return kRegistrySuccess;
    }
    long SetString(const std::wstring& name, const std::wstring& text) override {
      if (!Write(name)) return 5;
      owner_.SetStringIn(values_, name, text);
      return kRegistrySuccess;
    }
    long DeleteValue(const std::wstring& name) override {
      owner_.calls.push_back(prefix_ + "delete:" + std::string(name.begin(), name.end()));
      if (Fails(name)) return 5;
      return values_.erase(name) ? kRegistrySuccess : kRegistryValueNotFound;
    }

   private:
    bool Fails(const std::wstring& name) const {
      return prefix_.empty() ? owner_.failingWrites.count(name) != 0 : owner_.recordWritesFail;
    }
    bool Write(const std::wstring& name) {
      owner_.calls.push_back(prefix_ + "set:" + std::string(name.begin(), name.end()));
      return !Fails(name);
    }
    FakeProxySettingsPlatform& owner_;
    std::map<std::wstring, Value>& values_;
    std::string prefix_;
  };
};

}  // namespace pelno::testing
