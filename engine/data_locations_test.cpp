// The lookups over a fake platform: what the real one cannot be made to do (no
// known folder, no program path, unusual status codes). The real lookups are
// checked in data_locations_win_test.
#include "engine/data_locations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/testing/fake_location_platform.h"

namespace pelno {
namespace {

constexpr EngineSearch kWithSearchPath = EngineSearch::kProgramFoldersThenSearchPath;
using testing::FakeLocationPlatform;
using Paths = std::vector<std::wstring>;

// Network and device prefixes count as roots.
TEST(ParentPathTest, DropsFileNameAndSeparatorsButKeepsTheRoot) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\Apps\\Client\\app.exe", L"C:\\Apps\\Client"}, {L"C:\\Apps/Client\\\\/app.exe", L"C:\\Apps/Client"},
      {L"C:\\Apps\\Client\\", L"C:\\Apps\\Client"}, {L"C:\\app.exe", L"C:\\"}, {L"C:/app.exe", L"C:/"},
      {L"C:\\\\app.exe", L"C:\\\\"}, {L"C:app.exe", L"C:"}, {L"C:\\", L"C:\\"}, {L"\\app.exe", L"\\"},
      {L"app.exe", L""}, {L"\\\\server\\share\\app.exe", L"\\\\server\\share"},
      {L"//server/app.exe", L"//server/"},
      {L"\\\\server", L"\\\\server"}, {L"\\\\?\\C:\\Apps\\app.exe", L"\\\\?\\C:\\Apps"},
  };
  for (const auto& [path, parent] : cases) EXPECT_EQ(ParentPath(path), parent) << path;
}

TEST(ExecutableDirectoryTest, LongModulePathIsTakenAsTruncatedAndAFailureGivesDot) {
  FakeLocationPlatform platform;
  // 3 + 250 + 1 + 20 characters: the 260-unit buffer holds 259 and a zero.
  platform.modulePath = L"C:\\" + std::wstring(250, L'd') + L"\\" + std::wstring(20, L'f');
  EXPECT_EQ(ExecutablePath(platform), platform.modulePath.substr(0, 259));
  EXPECT_EQ(ExecutableDirectory(platform), L"C:\\" + std::wstring(250, L'd'));
  platform.moduleFails = true;
  EXPECT_EQ(ExecutableDirectory(platform), L".");
  EXPECT_EQ(ExecutablePath(platform), L"");
}

TEST(DataDirectoryTest, WithoutKnownFolderTheProgramDirectoryItself) {
  FakeLocationPlatform platform;
  platform.roamingAvailable = false;
  EXPECT_EQ(EngineConfigPath(platform), L"C:\\Apps\\Client\\sing-box.json");
  platform.moduleFails = true;
  EXPECT_EQ(DataDirectory(platform), L".");
  EXPECT_EQ(EngineConfigPath(platform), L".\\sing-box.json");
}

// Other codes are errors (LookupTest below).
TEST(PathExistsTest, NotFoundCodesMeanAbsent) {
  FakeLocationPlatform platform;
  for (const std::uint32_t code : {2u, 3u, 53u, 64u, 123u, 267u}) {
    platform.statusCodes[L"C:\\x"] = code;
    const PathExistence result = PathExists(L"C:\\x", platform);
    EXPECT_FALSE(result.exists) << code;
    EXPECT_EQ(result.error, "") << code;
  }
}

TEST(EngineLookupTest, SearchPathIsAskedForTheLengthThenForExactlyThat) {
  FakeLocationPlatform platform;
  platform.searchHit = L"D:\\tools\\sing-box.exe";
  EXPECT_EQ(FindEngineExecutable(kWithSearchPath, platform).path, L"D:\\tools\\sing-box.exe");
  EXPECT_EQ(platform.searchLengths, (std::vector<std::uint32_t>{0, 22}));
  platform.searchCopiedOverride = 22;  // grew between the calls: a result that does not fit
  EXPECT_EQ(FindEngineExecutable(kWithSearchPath, platform).path, L"");
  // The program's own folders come first, next to it before its "data" folder.
  platform.AddEntry(L"C:\\Apps\\Client\\data\\sing-box.exe");
  EXPECT_EQ(FindEngineExecutable(kWithSearchPath, platform).path, L"C:\\Apps\\Client\\data\\sing-box.exe");
  platform.AddEntry(L"C:\\Apps\\Client\\sing-box.exe");
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFolders, platform).path, L"C:\\Apps\\Client\\sing-box.exe");
}

TEST(EngineLookupTest, RootDirectoryGivesDoubledSeparator) {
  FakeLocationPlatform platform;
  platform.modulePath = L"C:\\app.exe";
  platform.AddEntry(L"C:\\\\sing-box.exe");
  EXPECT_EQ(FindEngineExecutable(kWithSearchPath, platform).path, L"C:\\\\sing-box.exe");
}

// The first candidate that cannot be tested ends the lookup with the error's text.
TEST(LookupTest, HelperCandidatesInOrderAndUnexpectedStatusFailuresStopBothLookups) {
  FakeLocationPlatform platform;
  EXPECT_EQ(FindHelperExecutable(platform).path, L"");
  EXPECT_EQ(platform.queriedPaths, (Paths{L"C:\\Apps\\Client\\PelnoVpnHelperService.exe",
                                          L"C:\\Apps\\Client\\PelnoVpnHelper.exe",
                                          L"C:\\Apps\\Client\\data\\PelnoVpnHelperService.exe",
                                          L"C:\\Apps\\Client\\data\\PelnoVpnHelper.exe"}));
  platform.statusCodes[L"C:\\Apps\\Client\\PelnoVpnHelper.exe"] = 1920;
  platform.statusCodes[L"C:\\Apps\\Client\\sing-box.exe"] = 5;
  platform.AddEntry(L"C:\\Apps\\Client\\data\\PelnoVpnHelper.exe");
  platform.AddEntry(L"C:\\Apps\\Client\\data\\sing-box.exe");
  platform.searchHit = L"D:\\tools\\sing-box.exe";
  const ExecutableSearchResult helper = FindHelperExecutable(platform);
  EXPECT_EQ(helper.path, L"");
  EXPECT_EQ(helper.error,
            "filesystem error: exists: system message 1920 [C:\\Apps\\Client\\PelnoVpnHelper.exe]");
  platform.queriedPaths.clear();
  const ExecutableSearchResult engine = FindEngineExecutable(kWithSearchPath, platform);
  EXPECT_EQ(engine.path, L"");
  EXPECT_EQ(engine.error,
            "filesystem error: exists: system message 5 [C:\\Apps\\Client\\sing-box.exe]");
  EXPECT_EQ(platform.queriedPaths.size(), 1u);
  EXPECT_TRUE(platform.searchLengths.empty());
}

}  // namespace
}  // namespace pelno
