// The data locations and lookups on the real file system, known folder, program
// path and search path. These tests place entries next to the test program itself
// and change the current directory, so they hold the engine_program_dir lock.
#include "engine/data_locations.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/running_under_wine.h"
#include "base/system_error_text.h"
#include "engine/file_system_error.h"
#include "engine/testing/temp_folder.h"
#include "engine/win32_location_platform.h"

namespace pelno {
namespace {

using testing::RemoveTree;
using testing::TempFolder;
using testing::WriteFileBytes;

// Entries created next to the test program; removed again however the test ends.
class ProgramDirEntries {
 public:
  ProgramDirEntries() {
    wchar_t buffer[MAX_PATH] = {};
    dir_.assign(buffer, ::GetModuleFileNameW(nullptr, buffer, MAX_PATH));
    dir_.resize(dir_.find_last_of(L'\\'));
    Clean();
  }
  ~ProgramDirEntries() { Clean(); }

  std::wstring Add(const std::wstring& relative, bool folder = false) {
    const std::wstring path = dir_ + L"\\" + relative;
    EXPECT_TRUE(folder ? ::CreateDirectoryW(path.c_str(), nullptr) != FALSE
                       : WriteFileBytes(path, "MZ"))
        << "cannot write next to the program";
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
  std::wstring dir_;
};

TEST(DataLocationsWinTest, DataDirectoryInTheRoamingFolderProgramPathAsRun) {
  wchar_t roaming[MAX_PATH] = {};
  ASSERT_GT(::GetEnvironmentVariableW(L"APPDATA", roaming, MAX_PATH), 0u);
  EXPECT_EQ(DataDirectory(), std::wstring(roaming) + L"\\PelnoVPN");
  EXPECT_EQ(ExecutablePath(), ProgramDirEntries().dir() + L"\\engine_locations_win_test.exe");
}

// An engine planted in the current directory (part of the system search order) is
// taken by the application's lookup only; the helper's ends at its own folders.
TEST(DataLocationsWinTest, EngineLookupOnRealFolders) {
  ProgramDirEntries entries;
  TempFolder elsewhere(L"search");
  const std::wstring planted = elsewhere / L"sing-box.exe";
  ASSERT_TRUE(WriteFileBytes(planted, "MZ"));
  ASSERT_TRUE(WriteFileBytes(elsewhere / L"PelnoVpnHelperService.exe", "MZ"));
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(elsewhere.path().c_str()));
  const ExecutableLookup fromSearch =
      FindEngineExecutable(EngineSearch::kProgramFoldersThenSearchPath);
  const ExecutableLookup helperLookup = FindEngineExecutable(EngineSearch::kProgramFolders);
  const ExecutableLookup helper = FindHelperExecutable();
  ::SetCurrentDirectoryW(previous);
  EXPECT_EQ(fromSearch.path, planted);
  EXPECT_EQ(helperLookup.path, L"");
  EXPECT_EQ(helperLookup.error, "");
  EXPECT_EQ(helper.path, L"");  // never on the search path

  entries.Add(L"data", true);
  const std::wstring inData = entries.Add(L"data\\sing-box.exe", true);  // a folder counts too
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFolders).path, inData);
  const std::wstring nextTo = entries.Add(L"sing-box.exe");
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFoldersThenSearchPath).path, nextTo);
  const std::wstring helperInData = entries.Add(L"data\\PelnoVpnHelper.exe");
  EXPECT_EQ(FindHelperExecutable().path, helperInData);
}

// Wine answers a status query on an unknown network server with error 66, which
// is not one of the "absent" codes: the lookup fails with that text, nothing more.
TEST(DataLocationsWinTest, UnexpectedStatusFailureBecomesTheLookupsErrorText) {
  if (!RunningUnderWine()) GTEST_SKIP() << "relies on Wine's status code for unknown servers";
  const std::wstring path = L"\\\\pelno-no-such-server\\share\\sing-box.exe";
  ASSERT_EQ(Win32LocationPlatform().QueryPathStatus(path), 66u);
  const PathExistence result = PathExists(path);
  EXPECT_FALSE(result.exists);
  EXPECT_EQ(result.error, FileSystemErrorText("exists", SystemErrorText(66), path));
  EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "Windows error 805306367");
}

}  // namespace
}  // namespace pelno
