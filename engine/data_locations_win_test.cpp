// The data locations and lookups on the real file system, known folder, program
// path and search path. These tests place entries next to the test program itself
// and change the current directory, so they hold the engine_program_dir lock.
#include "engine/data_locations.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

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

TEST(DataLocationsWinTest, KnownFolderAndProgramPath) {
  wchar_t* roaming = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming), S_OK);
  const std::wstring expected = std::wstring(roaming) + L"\\PelnoVPN";
  ::CoTaskMemFree(roaming);
  EXPECT_EQ(EngineConfigPath(), expected + L"\\sing-box.json");
  EXPECT_EQ(ExecutablePath(), ModulePath());
  EXPECT_EQ(ExecutableDirectory(), ModuleDirectory());
}

// An engine planted in the current directory (part of the system search order) is
// taken by the application's lookup only; the helper's ends at its own folders.
TEST(DataLocationsWinTest, EngineLookupOnRealFolders) {
  ProgramDirEntries entries;
  TempFolder elsewhere(L"search");
  const std::wstring planted = elsewhere / L"sing-box.exe";
  ASSERT_TRUE(WriteFileBytes(planted, "MZ"));
  ASSERT_TRUE(WriteFileBytes(elsewhere / L"PelnoVpnHelperService.exe", "MZ"));
  CurrentDirectory cwd(elsewhere.path());
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFoldersThenSearchPath).path, planted);
  const ExecutableLookup helperLookup = FindEngineExecutable(EngineSearch::kProgramFolders);
  EXPECT_EQ(helperLookup.path, L"");
  EXPECT_EQ(helperLookup.error, "");
  EXPECT_EQ(FindHelperExecutable().path, L"");  // never on the search path

  entries.Folder(L"data");
  const std::wstring inData = entries.Folder(L"data\\sing-box.exe");  // a folder counts too
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFolders).path, inData);
  const std::wstring nextTo = entries.File(L"sing-box.exe");
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFoldersThenSearchPath).path, nextTo);
  const std::wstring helper = entries.File(L"data\\PelnoVpnHelper.exe");
  EXPECT_EQ(FindHelperExecutable().path, helper);
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
  EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "Windows error 805306367");
}

}  // namespace
}  // namespace pelno
