// Where files live: the data directory, the program's own directory, and the
// lookups of the programs that are launched.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

class LocationPlatform;

// Every lookup asks `platform`: the program's Win32LocationPlatform
// (engine/win32_location_platform.h), built once in its entry point, or a fake.

// Roaming application data + "\PelnoVPN"; the executable directory when the known
// folder cannot be had. Never empty.
std::wstring DataDirectory(LocationPlatform& platform);
// DataDirectory() + "\sing-box.json".
std::wstring EngineConfigPath(LocationPlatform& platform);
// The running program's directory, or "." when its path cannot be read.
std::wstring ExecutableDirectory(LocationPlatform& platform);
// The running program's full path, or empty.
std::wstring ExecutablePath(LocationPlatform& platform);

// Result of an existence test. `error` is set (and `exists` false) when the
// status query failed for another reason than "not there"; that text is the
// failure message of whatever request needed the test.
struct PathExistence {
  bool exists = false;
  std::string error;
};

// Result of a program lookup: the path of the first hit, empty when nothing was
// found, or, when an existence test failed unexpectedly, an error text (and no path).
struct ExecutableSearchResult {
  std::wstring path;
  std::string error;
  bool Failed() const { return !error.empty(); }
  bool Found() const { return error.empty() && !path.empty(); }
};

inline constexpr std::wstring_view kEngineFileName = L"sing-box.exe";
inline constexpr std::string_view kEngineNotFoundMessage =
    "sing-box.exe not found; place it next to the app exe or in the data directory";

// Where the engine may come from. The privileged helper never takes it from the
// search path: the current directory and PATH folders may be writable by anyone.
enum class EngineSearch { kProgramFolders, kProgramFoldersThenSearchPath };

// Any kind of entry counts; codes 2, 3, 53, 64, 123 and 267 mean absent.
PathExistence PathExists(const std::wstring& path, LocationPlatform& platform);
// Next to the program, then its "data" folder, then (when asked) the system search path.
ExecutableSearchResult FindEngineExecutable(EngineSearch search, LocationPlatform& platform);
// PelnoVpnHelperService.exe, then PelnoVpnHelper.exe, next to the program and then
// in its "data" folder. Never the search path.
ExecutableSearchResult FindHelperExecutable(LocationPlatform& platform);

// Directory part of a Windows path, both '\' and '/' being separators: the file
// name and the separators before it go, a root ("C:\", "\\server") stays.
std::wstring ParentPath(std::wstring_view path);

}  // namespace pelno
