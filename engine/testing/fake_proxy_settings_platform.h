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
  static constexpr long kAccessDenied = 5;
  static constexpr std::uint32_t kRegDword = 4;

  std::map<std::wstring, Value> values;
  bool openQueryFails = false;
  bool openSetFails = false;
  // Registry writes and deletes of these names fail with kAccessDenied.
  std::set<std::wstring> failingWrites;
  // Deletes of these names return the given code instead of acting.
  std::map<std::wstring, long> deleteResults;
  std::uint32_t settingsChangedResult = 0;
  std::uint32_t refreshResult = 0;
  bool wine = false;

  // Every call, in order: "open-query", "open-set", "close", "set:Name", "delete:Name",
  // "option:39", ...
  std::vector<std::string> calls;
  int openKeys = 0;

  void SetString(const std::wstring& name, const std::wstring& text,
                 std::uint32_t type = kRegistryTypeString) {
    Value value{type, {}};
    value.bytes.resize((text.size() + 1) * sizeof(wchar_t));
    std::memcpy(value.bytes.data(), text.c_str(), value.bytes.size());
    values[name] = value;
  }
  void SetDword(const std::wstring& name, std::uint32_t data) {
    Value value{kRegDword, std::vector<std::uint8_t>(sizeof(data))};
    std::memcpy(value.bytes.data(), &data, sizeof(data));
    values[name] = value;
  }
  std::wstring StringValue(const std::wstring& name) const {
    const Value& value = values.at(name);
    std::wstring text(value.bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.bytes.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
  std::uint32_t DwordValue(const std::wstring& name) const {
    std::uint32_t data = 0;
    std::memcpy(&data, values.at(name).bytes.data(), sizeof(data));
    return data;
  }

  std::unique_ptr<InternetSettingsKey> OpenInternetSettings(KeyAccess access) override {
    calls.push_back(access == KeyAccess::kQuery ? "open-query" : "open-set");
    if ((access == KeyAccess::kQuery && openQueryFails) ||
        (access == KeyAccess::kSet && openSetFails)) {
      return nullptr;
    }
    return std::make_unique<Key>(*this);
  }

  std::uint32_t SetInternetOption(std::uint32_t option) override {
    calls.push_back("option:" + std::to_string(option));
    return option == kInternetOptionSettingsChanged ? settingsChangedResult : refreshResult;
  }

  bool RunningUnderWine() override { return wine; }

 private:
  static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

  class Key : public InternetSettingsKey {
   public:
    explicit Key(FakeProxySettingsPlatform& owner) : owner_(owner) { ++owner_.openKeys; }
    ~Key() override {
      --owner_.openKeys;
      owner_.calls.push_back("close");
    }

    long QueryValue(const std::wstring& name, std::uint32_t& type, std::uint8_t* data,
                    std::uint32_t& size) override {
      const auto it = owner_.values.find(name);
      if (it == owner_.values.end()) return kRegistryValueNotFound;
      type = it->second.type;
      const auto needed = static_cast<std::uint32_t>(it->second.bytes.size());
      if (data == nullptr) {
        size = needed;
        return kRegistrySuccess;
      }
      if (size < needed) {
        size = needed;
        return 234;  // ERROR_MORE_DATA
      }
      std::memcpy(data, it->second.bytes.data(), needed);
      size = needed;
      return kRegistrySuccess;
    }

    long SetDword(const std::wstring& name, std::uint32_t value) override {
      owner_.calls.push_back("set:" + Narrow(name));
      if (owner_.failingWrites.count(name)) return kAccessDenied;
      owner_.SetDword(name, value);
      return kRegistrySuccess;
    }

    long SetString(const std::wstring& name, const std::wstring& text) override {
      owner_.calls.push_back("set:" + Narrow(name));
      if (owner_.failingWrites.count(name)) return kAccessDenied;
      owner_.SetString(name, text);
      return kRegistrySuccess;
    }

    long DeleteValue(const std::wstring& name) override {
      owner_.calls.push_back("delete:" + Narrow(name));
      const auto forced = owner_.deleteResults.find(name);
      if (forced != owner_.deleteResults.end()) return forced->second;
      if (owner_.failingWrites.count(name)) return kAccessDenied;
      return owner_.values.erase(name) ? kRegistrySuccess : kRegistryValueNotFound;
    }

   private:
    FakeProxySettingsPlatform& owner_;
  };
};

}  // namespace pelno::testing
