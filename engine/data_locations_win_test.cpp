// The data locations and lookups on the real file system, known folder, program
// path and search path. These tests place entries next to the test program itself
// and change the current directory, so they hold the engine_program_dir lock.
#include "engine/data_locations.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <cctype>
#include <string>
#include <vector>

#include "engine/file_system_error.h"
#include "base/running_under_wine.h"
#include "base/system_error_text.h"
#include "engine/testing/temp_folder.h"
#include "engine/win32_location_platform.h"

namespace pelno {
namespace {

using testing::RemoveTree;
using testing::TempFolder;
using testing::WriteFileBytes;

std::wstring ModulePath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, length);
}

std::wstring ModuleDirectory() {
  const std::wstring path = ModulePath();
  return path.substr(0, path.find_last_of(L"\\/"));
}

// Entries created next to the test program; removed again however the test ends.
class ProgramDirEntries {
 public:
  ProgramDirEntries() { Clean(); }
  ~ProgramDirEntries() { Clean(); }

  std::wstring File(const std::wstring& relative) {
    const std::wstring path = dir_ + L"\\" + relative;
    EXPECT_TRUE(WriteFileBytes(path, "MZ")) << "cannot write next to the program";
    return path;
  }
  std::wstring Folder(const std::wstring& relative) {
    const std::wstring path = dir_ + L"\\" + relative;
    EXPECT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
    return path;
  }
  const std::wstring& dir() const { return dir_; }

 private:
  void Clean() {
    for (const wchar_t* name : {L"sing-box.exe", L"data", L"PelnoVpnHelperService.exe",
                                L"PelnoVpnHelper.exe"}) {
      RemoveTree(dir_ + L"\\" + name);
    }
  }
  std::wstring dir_ = ModuleDirectory();
};

// Runs a test in another current directory and puts the old one back.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, buffer);
    previous_ = buffer;
    EXPECT_TRUE(::SetCurrentDirectoryW(path.c_str()));
  }
  ~CurrentDirectory() { ::SetCurrentDirectoryW(previous_.c_str()); }

 private:
  std::wstring previous_;
};

TEST(DataLocationsWinTest, DataDirectoryIsTheRoamingKnownFolderPlusProductName) {
  wchar_t* roaming = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming), S_OK);
  const std::wstring expected = std::wstring(roaming) + L"\\PelnoVPN";
  ::CoTaskMemFree(roaming);
  EXPECT_EQ(DataDirectory(), expected);
  EXPECT_EQ(DataDirectory().substr(DataDirectory().size() - 9), L"\\PelnoVPN");
  EXPECT_EQ(EngineConfigPath(), expected + L"\\sing-box.json");
}

TEST(DataLocationsWinTest, ExecutablePathAndDirectoryAreThoseOfTheRunningProgram) {
  EXPECT_EQ(ExecutablePath(), ModulePath());
  EXPECT_EQ(ExecutableDirectory(), ModuleDirectory());
  EXPECT_NE(ExecutableDirectory().back(), L'\\');
}

TEST(DataLocationsWinTest, NextToTheProgramBeatsTheDataFolder) {
  ProgramDirEntries entries;
  entries.Folder(L"data");
  const std::wstring inData = entries.File(L"data\\sing-box.exe");
  const std::wstring nextTo = entries.File(L"sing-box.exe");
  EXPECT_EQ(FindEngineExecutable().path, nextTo);
  ASSERT_TRUE(::DeleteFileW(nextTo.c_str()));
  EXPECT_EQ(FindEngineExecutable().path, inData);
}

TEST(DataLocationsWinTest, DirectoryNamedLikeTheEngineCounts) {
  ProgramDirEntries entries;
  const std::wstring folder = entries.Folder(L"sing-box.exe");
  const ExecutableLookup found = FindEngineExecutable();
  EXPECT_EQ(found.path, folder);
  EXPECT_FALSE(found.Failed());
  EXPECT_TRUE(PathExists(folder).exists);
}

TEST(DataLocationsWinTest, SearchPathIsUsedOnlyWhenNothingLiesBesideTheProgram) {
  ProgramDirEntries entries;
  TempFolder elsewhere(L"search");
  const std::wstring onSearchPath = elsewhere / L"sing-box.exe";
  ASSERT_TRUE(WriteFileBytes(onSearchPath, "MZ"));
  CurrentDirectory cwd(elsewhere.path());

  // The current directory is part of the system search order.
  EXPECT_EQ(FindEngineExecutable().path, onSearchPath);

  entries.Folder(L"data");
  const std::wstring inData = entries.File(L"data\\sing-box.exe");
  EXPECT_EQ(FindEngineExecutable().path, inData);
}

TEST(DataLocationsWinTest, NothingAnywhereIsEmptyWithoutError) {
  ProgramDirEntries entries;
  TempFolder empty(L"empty");
  CurrentDirectory cwd(empty.path());
  const ExecutableLookup found = FindEngineExecutable();
  EXPECT_EQ(found.path, L"");
  EXPECT_EQ(found.error, "");
  EXPECT_EQ(FindHelperExecutable().path, L"");
}

TEST(DataLocationsWinTest, HelperCandidatesInOrder) {
  ProgramDirEntries entries;
  TempFolder elsewhere(L"helper");
  ASSERT_TRUE(WriteFileBytes(elsewhere / L"PelnoVpnHelperService.exe", "MZ"));
  CurrentDirectory cwd(elsewhere.path());  // never looked for on the search path
  EXPECT_EQ(FindHelperExecutable().path, L"");

  entries.Folder(L"data");
  const std::wstring dataShort = entries.File(L"data\\PelnoVpnHelper.exe");
  EXPECT_EQ(FindHelperExecutable().path, dataShort);
  const std::wstring dataService = entries.File(L"data\\PelnoVpnHelperService.exe");
  EXPECT_EQ(FindHelperExecutable().path, dataService);
  const std::wstring nextShort = entries.File(L"PelnoVpnHelper.exe");
  EXPECT_EQ(FindHelperExecutable().path, nextShort);
  const std::wstring nextService = entries.File(L"PelnoVpnHelperService.exe");
  EXPECT_EQ(FindHelperExecutable().path, nextService);
}

TEST(DataLocationsWinTest, PathExistsOnRealEntries) {
  TempFolder folder(L"exists");
  ASSERT_TRUE(WriteFileBytes(folder / L"file.txt", "x"));
  EXPECT_TRUE(PathExists(folder.path()).exists);
  EXPECT_TRUE(PathExists(folder / L"file.txt").exists);
  for (const std::wstring& absent :
       {folder / L"missing", folder / L"missing\\deeper", folder / L"file.txt\\below",
        folder / L"bad<name"}) {
    const PathExistence result = PathExists(absent);
    EXPECT_FALSE(result.exists);
    EXPECT_EQ(result.error, "");
  }
}

// Wine answers a status query on an unknown network server with error 66, which
// is not one of the "absent" codes: the lookup fails with that text, nothing more.
TEST(DataLocationsWinTest, UnexpectedStatusFailureBecomesTheLookupsErrorText) {
  if (!RunningUnderWine()) GTEST_SKIP() << "relies on Wine's status code for unknown servers";
  const std::wstring path = L"\\\\pelno-no-such-server\\share\\sing-box.exe";
  Win32LocationPlatform platform;
  const std::uint32_t code = platform.QueryPathStatus(path);
  ASSERT_EQ(code, 66u);
  const PathExistence result = PathExists(path);
  EXPECT_FALSE(result.exists);
  EXPECT_EQ(result.error, FileSystemErrorText("exists", SystemErrorText(code), path));
}

TEST(DataLocationsWinTest, SystemErrorTextHasNoTrailingLineEnd) {
  const std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find("file"), std::string::npos) << text;
  EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "Windows error 805306367");
}

}  // namespace
}  // namespace pelno
