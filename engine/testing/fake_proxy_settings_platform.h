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
  bool openQueryFails = false;
  bool openSetFails = false;
  std::set<std::wstring> failingWrites;  // writes and deletes of these fail with 5
  std::uint32_t settingsChangedResult = 0;
  std::uint32_t refreshResult = 0;
  bool wine = false;
  // Every call in order: "open-query", "open-set", "close", "set:Name", "delete:Name", "option:39".
  std::vector<std::string> calls;

  void Set(const std::wstring& name, std::uint32_t type, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    values[name] = {type, std::vector<std::uint8_t>(bytes, bytes + size)};
  }
  void SetString(const std::wstring& name, const std::wstring& text) {
    Set(name, kRegistryTypeString, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  void SetDword(const std::wstring& name, std::uint32_t data) { Set(name, 4, &data, 4); }
  // The text without its terminating zero.
  std::wstring StringValue(const std::wstring& name) const {
    const std::vector<std::uint8_t>& bytes = values.at(name).bytes;
    std::wstring text(bytes.size() / sizeof(wchar_t) - 1, L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    return text;
  }

  std::unique_ptr<InternetSettingsKey> OpenInternetSettings(KeyAccess access) override {
    const bool query = access == KeyAccess::kQuery;
    calls.push_back(query ? "open-query" : "open-set");
    if (query ? openQueryFails : openSetFails) return nullptr;
    return std::make_unique<Key>(*this);
  }
  std::uint32_t SetInternetOption(std::uint32_t option) override {
    calls.push_back("option:" + std::to_string(option));
    return option == kInternetOptionSettingsChanged ? settingsChangedResult : refreshResult;
  }
  bool RunningUnderWine() override { return wine; }

 private:
  class Key : public InternetSettingsKey {
   public:
    explicit Key(FakeProxySettingsPlatform& owner) : owner_(owner) {}
    ~Key() override { owner_.calls.push_back("close"); }

    long QueryValue(const std::wstring& name, std::uint32_t& type, std::uint8_t* data,
                    std::uint32_t& size) override {
      const auto it = owner_.values.find(name);
      if (it == owner_.values.end()) return kRegistryValueNotFound;
      const auto needed = static_cast<std::uint32_t>(it->second.bytes.size());
      const bool fits = data == nullptr || size >= needed;
      if (data != nullptr && fits) std::memcpy(data, it->second.bytes.data(), needed);
      type = it->second.type;
      size = needed;
      return fits ? kRegistrySuccess : 234;  // ERROR_MORE_DATA
    }
    long SetDword(const std::wstring& name, std::uint32_t value) override {
      return Write(name) ? (owner_.SetDword(name, value), kRegistrySuccess) : 5;
    }
    long SetString(const std::wstring& name, const std::wstring& text) override {
      return Write(name) ? (owner_.SetString(name, text), kRegistrySuccess) : 5;
    }
    long DeleteValue(const std::wstring& name) override {
      owner_.calls.push_back("delete:" + std::string(name.begin(), name.end()));
      if (owner_.failingWrites.count(name)) return 5;
      return owner_.values.erase(name) ? kRegistrySuccess : kRegistryValueNotFound;
    }

   private:
    bool Write(const std::wstring& name) {
      owner_.calls.push_back("set:" + std::string(name.begin(), name.end()));
      return owner_.failingWrites.count(name) == 0;
    }
    FakeProxySettingsPlatform& owner_;
  };
};

}  // namespace pelno::testing
