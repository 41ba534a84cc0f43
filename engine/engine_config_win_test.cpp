// Writing the configuration file on the real file system, with the roaming folder
// moved into a test folder.
#include "engine/engine_config.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "engine/data_locations.h"
#include "base/system_error_text.h"
#include "engine/testing/relocated_location_platform.h"
#include "engine/testing/temp_folder.h"

namespace pelno {
namespace {

using testing::ReadFileBytes;
using testing::RelocatedLocationPlatform;
using testing::TempFolder;
using testing::WriteFileBytes;

class EngineConfigTest : public ::testing::Test {
 protected:
  RelocatedLocationPlatform PlatformWithRoaming(const std::wstring& roaming) {
    return RelocatedLocationPlatform(root / L"program\\app.exe", roaming);
  }

  TempFolder root{L"config"};
  std::string error;
};

TEST_F(EngineConfigTest, CreatesTheDataDirectoryWithItsParentsAndWritesBytesUnchanged) {
  RelocatedLocationPlatform platform = PlatformWithRoaming(root / L"a\\b c\\d");
  const std::string config = "{\r\n  \"log\": {}\r\n}\n\xEF\xBB\xBF\x00tail";
  const std::string withNul(config.data(), config.size());
  ASSERT_TRUE(WriteEngineConfig(withNul, EngineVariant::kHelper, error, platform)) << error;
  EXPECT_EQ(EngineConfigPath(platform), root / L"a\\b c\\d\\PelnoVPN\\sing-box.json");
  EXPECT_EQ(ReadFileBytes(EngineConfigPath(platform)), withNul);
}

TEST_F(EngineConfigTest, ShorterConfigurationLeavesNoTraceOfTheLongerOne) {
  RelocatedLocationPlatform platform = PlatformWithRoaming(root.path());
  ASSERT_TRUE(WriteEngineConfig(std::string(10000, 'L'), EngineVariant::kApplication, error,
                                platform));
  ASSERT_TRUE(WriteEngineConfig("{}", EngineVariant::kApplication, error, platform)) << error;
  EXPECT_EQ(ReadFileBytes(EngineConfigPath(platform)), "{}");
}

TEST_F(EngineConfigTest, WritesWhileAnotherProgramHasTheFileOpen) {
  RelocatedLocationPlatform platform = PlatformWithRoaming(root.path());
  ASSERT_TRUE(WriteEngineConfig("first", EngineVariant::kHelper, error, platform));
  // A reader that allows others to write and delete, as an engine reading its
  // configuration might.
  const HANDLE reader = ::CreateFileW(EngineConfigPath(platform).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const bool written = WriteEngineConfig("second", EngineVariant::kHelper, error, platform);
  ::CloseHandle(reader);
  EXPECT_TRUE(written) << error;
  EXPECT_EQ(ReadFileBytes(EngineConfigPath(platform)), "second");
}

TEST_F(EngineConfigTest, UnopenableFileIsAWriteFailure) {
  RelocatedLocationPlatform platform = PlatformWithRoaming(root.path());
  ASSERT_EQ(CreateDirectoryTree(EngineConfigPath(platform)), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(WriteEngineConfig("{}", EngineVariant::kHelper, error, platform));
  EXPECT_EQ(error, "Failed to write sing-box config");
  error.clear();
  EXPECT_FALSE(WriteEngineConfig("{}", EngineVariant::kApplication, error, platform));
  EXPECT_EQ(error, "Failed to write sing-box config");
}

TEST_F(EngineConfigTest, DirectoryFailureIsWordedPerProgram) {
  // A file where a parent folder should be: the directory cannot be created.
  ASSERT_TRUE(WriteFileBytes(root / L"blocker", "x"));
  RelocatedLocationPlatform platform = PlatformWithRoaming(root / L"blocker\\roaming");
  const std::wstring directory = DataDirectory(platform);
  const DWORD code = CreateDirectoryTree(directory);
  ASSERT_NE(code, static_cast<DWORD>(ERROR_SUCCESS));

  ASSERT_FALSE(WriteEngineConfig("{}", EngineVariant::kHelper, error, platform));
  EXPECT_EQ(error, SystemErrorText(code));
  EXPECT_NE(error.find_first_not_of(' '), std::string::npos);

  std::string applicationError;
  ASSERT_FALSE(WriteEngineConfig("{}", EngineVariant::kApplication, applicationError, platform));
  const std::string pathText = "[" + std::string(directory.begin(), directory.end()) + "]";
  EXPECT_EQ(applicationError,
            "filesystem error: create_directories: " + SystemErrorText(code) + " " + pathText);
}

TEST_F(EngineConfigTest, DataDirectoryThatIsAFileCannotBeCreated) {
  ASSERT_TRUE(WriteFileBytes(root / L"PelnoVPN", "x"));
  RelocatedLocationPlatform platform = PlatformWithRoaming(root.path());
  ASSERT_FALSE(WriteEngineConfig("{}", EngineVariant::kHelper, error, platform));
  EXPECT_EQ(error, SystemErrorText(ERROR_ALREADY_EXISTS));
}

TEST_F(EngineConfigTest, ExistingDirectoryIsSuccess) {
  EXPECT_EQ(CreateDirectoryTree(root.path()), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(CreateDirectoryTree(root / L"x\\y\\"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(CreateDirectoryTree(root / L"x\\y"), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(::GetFileAttributesW((root / L"x\\y").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace pelno
