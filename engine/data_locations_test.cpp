#include "engine/data_locations.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/testing/fake_location_platform.h"

namespace pelno {
namespace {

constexpr EngineSearch kWithSearchPath = EngineSearch::kProgramFoldersThenSearchPath;

using testing::FakeLocationPlatform;

// Network and device prefixes count as roots.
TEST(ParentPathTest, DropsFileNameAndSeparatorsButKeepsTheRoot) {
  const struct {
    const wchar_t* path;
    const wchar_t* parent;
  } cases[] = {
      {L"C:\\Apps\\Client\\app.exe", L"C:\\Apps\\Client"},
      {L"C:/Apps/Client/app.exe", L"C:/Apps/Client"},
      {L"C:\\Apps/Client\\\\/app.exe", L"C:\\Apps/Client"},
      {L"C:\\Apps\\Client\\", L"C:\\Apps\\Client"},
      {L"C:\\app.exe", L"C:\\"},
      {L"C:/app.exe", L"C:/"},
      {L"C:\\\\app.exe", L"C:\\\\"},
      {L"C:app.exe", L"C:"},
      {L"C:\\", L"C:\\"},
      {L"\\app.exe", L"\\"},
      {L"app.exe", L""},
      {L"\\\\server\\share\\dir\\app.exe", L"\\\\server\\share\\dir"},
      {L"\\\\server\\share\\app.exe", L"\\\\server\\share"},
      {L"//server/app.exe", L"//server/"},
      {L"\\\\server", L"\\\\server"},
      {L"\\\\?\\C:\\Apps\\app.exe", L"\\\\?\\C:\\Apps"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentPath(c.path), c.parent);
}

TEST(ExecutableDirectoryTest, UnreadableModulePathGivesDotAndEmptyPath) {
  FakeLocationPlatform platform;
  platform.moduleFails = true;
  EXPECT_EQ(ExecutableDirectory(platform), L".");
  EXPECT_EQ(ExecutablePath(platform), L"");
}

TEST(ExecutableDirectoryTest, LongModulePathIsTakenAsTruncated) {
  FakeLocationPlatform platform;
  // 3 + 250 + 1 + 20 characters: the 260-unit buffer holds 259 and a zero.
  platform.modulePath = L"C:\\" + std::wstring(250, L'd') + L"\\" + std::wstring(20, L'f');
  const std::wstring truncated = platform.modulePath.substr(0, 259);
  EXPECT_EQ(ExecutablePath(platform), truncated);
  EXPECT_EQ(ExecutableDirectory(platform), L"C:\\" + std::wstring(250, L'd'));
}

TEST(DataDirectoryTest, WithoutKnownFolderTheProgramDirectoryItself) {
  FakeLocationPlatform platform;
  platform.roamingAvailable = false;
  EXPECT_EQ(DataDirectory(platform), L"C:\\Apps\\Client");
  EXPECT_EQ(EngineConfigPath(platform), L"C:\\Apps\\Client\\sing-box.json");
  platform.moduleFails = true;
  EXPECT_EQ(DataDirectory(platform), L".");
  EXPECT_EQ(EngineConfigPath(platform), L".\\sing-box.json");
}

TEST(PathExistsTest, NotFoundCodesMeanAbsentOthersAreErrors) {
  FakeLocationPlatform platform;
  for (const std::uint32_t code : {2u, 3u, 53u, 64u, 123u, 267u}) {
    platform.statusCodes[L"C:\\x"] = code;
    const PathExistence result = PathExists(L"C:\\x", platform);
    EXPECT_FALSE(result.exists) << code;
    EXPECT_EQ(result.error, "") << code;
  }
  platform.statusCodes[L"C:\\x"] = 0;
  EXPECT_TRUE(PathExists(L"C:\\x", platform).exists);
  platform.statusCodes[L"C:\\x"] = 5;
  const PathExistence denied = PathExists(L"C:\\x", platform);
  EXPECT_FALSE(denied.exists);
  EXPECT_EQ(denied.error, "filesystem error: exists: system message 5 [C:\\x]");
}

TEST(EngineLookupTest, SearchPathIsAskedForTheLengthFirstAndOnlyWhenAllowed) {
  FakeLocationPlatform platform;
  platform.searchHit = L"D:\\tools\\sing-box.exe";
  // The privileged helper's lookup ends after the program's own two folders.
  EXPECT_EQ(FindEngineExecutable(EngineSearch::kProgramFolders, platform).path, L"");
  EXPECT_TRUE(platform.searchLengths.empty());
  const ExecutableLookup found = FindEngineExecutable(kWithSearchPath, platform);
  EXPECT_EQ(found.path, L"D:\\tools\\sing-box.exe");
  EXPECT_EQ(platform.searchLengths, (std::vector<std::uint32_t>{0, 22}));
}

TEST(EngineLookupTest, SearchPathResultThatDoesNotFitIsIgnored) {
  FakeLocationPlatform platform;
  platform.searchHit = L"D:\\tools\\sing-box.exe";
  platform.searchCopiedOverride = 22;  // grew between the calls: m == n
  EXPECT_EQ(FindEngineExecutable(kWithSearchPath, platform).path, L"");
}

TEST(EngineLookupTest, RootDirectoryGivesDoubledSeparator) {
  FakeLocationPlatform platform;
  platform.modulePath = L"C:\\app.exe";
  platform.AddEntry(L"C:\\\\sing-box.exe");
  EXPECT_EQ(FindEngineExecutable(kWithSearchPath, platform).path, L"C:\\\\sing-box.exe");
}

TEST(EngineLookupTest, UnexpectedStatusFailureStopsTheLookupWithItsText) {
  FakeLocationPlatform platform;
  platform.statusCodes[L"C:\\Apps\\Client\\sing-box.exe"] = 5;
  platform.AddEntry(L"C:\\Apps\\Client\\data\\sing-box.exe");
  platform.searchHit = L"D:\\tools\\sing-box.exe";
  const ExecutableLookup found = FindEngineExecutable(kWithSearchPath, platform);
  EXPECT_TRUE(found.Failed());
  EXPECT_EQ(found.path, L"");
  EXPECT_EQ(found.error,
            "filesystem error: exists: system message 5 [C:\\Apps\\Client\\sing-box.exe]");
  EXPECT_EQ(platform.queriedPaths.size(), 1u);
  EXPECT_TRUE(platform.searchLengths.empty());
}

TEST(HelperLookupTest, UnexpectedStatusFailureIsReported) {
  FakeLocationPlatform platform;
  platform.statusCodes[L"C:\\Apps\\Client\\PelnoVpnHelper.exe"] = 1920;
  platform.AddEntry(L"C:\\Apps\\Client\\data\\PelnoVpnHelper.exe");
  const ExecutableLookup found = FindHelperExecutable(platform);
  EXPECT_EQ(found.error,
            "filesystem error: exists: system message 1920 [C:\\Apps\\Client\\PelnoVpnHelper.exe]");
  EXPECT_EQ(found.path, L"");
}

}  // namespace
}  // namespace pelno
