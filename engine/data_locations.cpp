#include "engine/data_locations.h"

#include <array>
#include <cstdint>
#include <vector>

#include "engine/engine_contract.h"
#include "engine/file_system_error.h"
#include "engine/location_platform.h"

namespace pelno {
namespace {

// The program path buffer does not grow: a longer path is taken as truncated.
constexpr std::uint32_t kModulePathBufferLength = 260;
constexpr std::wstring_view kDataFolderSuffix = L"\\PelnoVPN";
constexpr std::wstring_view kConfigFileSuffix = L"\\sing-box.json";

// Status failures that mean "nothing there": file not found, path not found, bad
// network path, network name gone, invalid name, directory name invalid.
constexpr std::array<std::uint32_t, 6> kNotFoundCodes = {2, 3, 53, 64, 123, 267};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// End of the root name: "C:", "\\server", or the "\\?" / "\\." / "\??" prefixes.
std::size_t RootNameEnd(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':' && IsDriveLetter(path[0])) return 2;
  if (path.empty() || !IsSeparator(path[0])) return 0;
  if (path.size() >= 4 && IsSeparator(path[3]) &&
      ((IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.')) ||
       (path[1] == L'?' && path[2] == L'?'))) {
    return 3;
  }
  if (path.size() >= 3 && IsSeparator(path[1]) && !IsSeparator(path[2])) {
    std::size_t end = 3;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    return end;
  }
  return 0;
}

std::wstring ModuleFileText(LocationPlatform& platform) {
  std::vector<wchar_t> buffer(kModulePathBufferLength, L'\0');
  std::uint32_t count = platform.ModuleFileName(buffer.data(), kModulePathBufferLength);
  if (count == 0) return {};
  if (count > kModulePathBufferLength) count = kModulePathBufferLength;
  std::wstring text(buffer.data(), count);
  // A truncated result ends in a terminating zero inside the count.
  const std::size_t zero = text.find(L'\0');
  if (zero != std::wstring::npos) text.resize(zero);
  return text;
}

ExecutableSearchResult FirstExisting(LocationPlatform& platform,
                               const std::vector<std::wstring>& candidates) {
  for (const std::wstring& candidate : candidates) {
    PathExistence existence = PathExists(candidate, platform);
    if (!existence.error.empty()) return {{}, std::move(existence.error)};
    if (existence.exists) return {candidate, {}};
  }
  return {};
}

}  // namespace

std::wstring ParentPath(std::wstring_view path) {
  const std::size_t rootNameEnd = RootNameEnd(path);
  std::size_t relativeStart = rootNameEnd;
  while (relativeStart < path.size() && IsSeparator(path[relativeStart])) ++relativeStart;
  std::size_t end = path.size();
  while (end > relativeStart && !IsSeparator(path[end - 1])) --end;
  while (end > relativeStart && IsSeparator(path[end - 1])) --end;
  return std::wstring(path.substr(0, end));
}

std::wstring ExecutableDirectory(LocationPlatform& platform) {
  const std::wstring file = ModuleFileText(platform);
  if (file.empty()) return L".";
  return ParentPath(file);
}

std::wstring ExecutablePath(LocationPlatform& platform) { return ModuleFileText(platform); }

std::wstring DataDirectory(LocationPlatform& platform) {
  std::wstring folder;
  if (platform.RoamingAppDataFolder(folder)) return folder + std::wstring(kDataFolderSuffix);
  return ExecutableDirectory(platform);
}

std::wstring EngineConfigPath(LocationPlatform& platform) {
  return DataDirectory(platform) + std::wstring(kConfigFileSuffix);
}

PathExistence PathExists(const std::wstring& path, LocationPlatform& platform) {
  const std::uint32_t code = platform.QueryPathStatus(path);
  if (code == 0) return {true, {}};
  for (const std::uint32_t notFound : kNotFoundCodes) {
    if (code == notFound) return {false, {}};
  }
  return {false, FileSystemErrorText("exists", platform.ErrorMessage(code), path)};
}

ExecutableSearchResult FindEngineExecutable(EngineSearch search, LocationPlatform& platform) {
  const std::wstring directory = ExecutableDirectory(platform);
  const std::wstring name(kEngineFileName);
  ExecutableSearchResult found =
      FirstExisting(platform, {directory + L"\\" + name, directory + L"\\data\\" + name});
  if (found.Failed() || found.Found() || search == EngineSearch::kProgramFolders) return found;

  const std::uint32_t required = platform.SearchSystemPath(name, 0, nullptr);
  if (required == 0) return {};
  std::vector<wchar_t> buffer(required, L'\0');
  const std::uint32_t copied = platform.SearchSystemPath(name, required, buffer.data());
  if (copied == 0 || copied >= required) return {};
  return {std::wstring(buffer.data(), copied), {}};
}

ExecutableSearchResult FindHelperExecutable(LocationPlatform& platform) {
  const std::wstring directory = ExecutableDirectory(platform);
  return FirstExisting(platform, {directory + L"\\" + kHelperFileName,
                                  directory + L"\\" + kHelperShortFileName,
                                  directory + L"\\data\\" + kHelperFileName,
                                  directory + L"\\data\\" + kHelperShortFileName});
}

}  // namespace pelno
