// The data locations and lookups on the real file system. The test changes the
// current directory, so it holds the engine_program_dir lock.
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

using testing::TempFolder;

// One real run of each platform call the lookups make: the known folder, the
// program path, file status (a folder counts, Wine's code 66 for an unknown server
// is an error) and the search path, which only the application's lookup takes.
TEST(DataLocationsWinTest, RealFoldersProgramPathStatusAndSearchPath) {
  Win32LocationPlatform platform;
  wchar_t roaming[MAX_PATH] = {};
  ASSERT_GT(::GetEnvironmentVariableW(L"APPDATA", roaming, MAX_PATH), 0u);
  EXPECT_EQ(DataDirectory(platform), std::wstring(roaming) + L"\\PelnoVPN");
  const std::wstring program = ExecutablePath(platform);
  EXPECT_EQ(program.substr(program.find_last_of(L'\\')), L"\\engine_locations_win_test.exe");

  TempFolder elsewhere(L"search");
  ASSERT_TRUE(::CreateDirectoryW((elsewhere / L"sing-box.exe").c_str(), nullptr));
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(elsewhere.path().c_str()));
  const ExecutableSearchResult fromSearch = FindEngineExecutable(EngineSearch::kProgramFoldersThenSearchPath, platform);
  const ExecutableSearchResult helperLookup = FindEngineExecutable(EngineSearch::kProgramFolders, platform);
  ::SetCurrentDirectoryW(previous);
  EXPECT_EQ(fromSearch.path, elsewhere / L"sing-box.exe");
  EXPECT_EQ(helperLookup.path, L"");
  EXPECT_EQ(helperLookup.error, "");
  EXPECT_TRUE(PathExists(elsewhere / L"sing-box.exe", platform).exists);
  EXPECT_FALSE(PathExists(elsewhere / L"missing\\deeper", platform).exists);

  if (!RunningUnderWine()) return;
  const std::wstring unknownServer = L"\\\\pelno-no-such-server\\share\\sing-box.exe";
  EXPECT_EQ(PathExists(unknownServer, platform).error,
            FileSystemErrorText("exists", SystemErrorText(66), unknownServer));
  EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "Windows error 805306367");
}

}  // namespace
}  // namespace pelno
