// Writing the configuration file on the real file system, with the roaming folder
// moved into a test folder.
#include "engine/engine_config.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/system_error_text.h"
#include "engine/data_locations.h"
#include "engine/testing/relocated_location_platform.h"
#include "engine/testing/temp_folder.h"

namespace pelno {
namespace {

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

TEST_F(EngineConfigTest, DirectoryFailureIsWordedPerProgramAndAnUnopenableFileFails) {
  // A file where a parent folder should be: the directory cannot be created.
  ASSERT_TRUE(WriteFileBytes(root / L"blocker", "x"));
  RelocatedLocationPlatform platform = PlatformWithRoaming(root / L"blocker\\roaming");
  const std::string text = SystemErrorText(ERROR_ALREADY_EXISTS);
  ASSERT_FALSE(WriteEngineConfig("{}", EngineVariant::kHelper, error, platform));
  EXPECT_EQ(error, text);
  ASSERT_FALSE(WriteEngineConfig("{}", EngineVariant::kApplication, error, platform));
  const std::wstring directory = DataDirectory(platform);
  EXPECT_EQ(error, "filesystem error: create_directories: " + text + " [" +
                       std::string(directory.begin(), directory.end()) + "]");

  // A folder where the file should be: it cannot be opened for writing.
  platform = PlatformWithRoaming(root.path());
  ASSERT_EQ(CreateDirectoryTree(EngineConfigPath(platform) + L"\\"), DWORD{ERROR_SUCCESS});
  EXPECT_FALSE(WriteEngineConfig("{}", EngineVariant::kHelper, error, platform));
  EXPECT_EQ(error, "Failed to write sing-box config");
}

}  // namespace
}  // namespace pelno
