// A file system and program location held in memory, for tests of the lookups.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/location_platform.h"

namespace pelno::testing {

class FakeLocationPlatform : public LocationPlatform {
 public:
  bool roamingAvailable = true;
  bool moduleFails = false;
  std::wstring modulePath = L"C:\\Apps\\Client\\app.exe";
  // Status code per path; paths not listed are absent (code 2).
  std::map<std::wstring, std::uint32_t> statusCodes;
  // What the search path finds; empty means nothing.
  std::wstring searchHit;
  // When set, the second search call copies this many characters regardless.
  std::uint32_t searchCopiedOverride = 0;

  std::vector<std::wstring> queriedPaths;
  std::vector<std::uint32_t> searchLengths;

  void AddEntry(const std::wstring& path) { statusCodes[path] = 0; }

  bool RoamingAppDataFolder(std::wstring& folder) override {
    return folder = L"C:\\Users\\u\\AppData\\Roaming", roamingAvailable;
  }

  // Like GetModuleFileNameW: a path that does not fit is cut to length - 1
  // characters plus a terminating zero, and the result is `length`.
  std::uint32_t ModuleFileName(wchar_t* buffer, std::uint32_t length) override {
    if (moduleFails) return 0;
    const std::size_t count = std::min<std::size_t>(modulePath.size(), length - 1);
    std::copy_n(modulePath.begin(), count, buffer);
    buffer[count] = L'\0';
    return count < modulePath.size() ? length : static_cast<std::uint32_t>(count);
  }

  std::uint32_t QueryPathStatus(const std::wstring& path) override {
    queriedPaths.push_back(path);
    const auto it = statusCodes.find(path);
    return it == statusCodes.end() ? 2 : it->second;
  }

  std::uint32_t SearchSystemPath(const std::wstring&, std::uint32_t length,
                                 wchar_t* buffer) override {
    searchLengths.push_back(length);
    const auto needed = static_cast<std::uint32_t>(searchHit.size() + 1);
    if (searchHit.empty() || length < needed) return searchHit.empty() ? 0 : needed;
    std::copy(searchHit.begin(), searchHit.end(), buffer);
    buffer[searchHit.size()] = L'\0';
    return searchCopiedOverride != 0 ? searchCopiedOverride : needed - 1;
  }

  std::string ErrorMessage(std::uint32_t code) override { return "system message " + std::to_string(code); }
};

}  // namespace pelno::testing
