#include "helper/stale_run_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/testing/temp_folder.h"

namespace pelno {
namespace {

using testing::TempFolder;

// Only files named as the helper names its run files go; everything else stays.
TEST(StaleRunFilesTest, OnlyRunFilesAreRemoved) {
  TempFolder folder(L"runs");
  const std::vector<std::wstring> removed = {L"sing-box-urltest-4012-1.json", L"sing-box-urltest-7-18446744.json"};
  const std::vector<std::wstring> kept = {
      L"sing-box.json",           L"sing-box-urltest-4012-1.json.bak", L"sing-box-urltest-4012-.json",
      L"sing-box-urltest-x-1.json", L"sing-box-urltest-1-2-3.json",    L"sing-box-urltest-12.json",
      L"my-sing-box-urltest-1-1.json", L"notes.txt"};
  for (const auto& name : removed) ASSERT_TRUE(testing::WriteFileBytes(folder / name, "{}"));
  for (const auto& name : kept) ASSERT_TRUE(testing::WriteFileBytes(folder / name, "{}"));
  ASSERT_TRUE(::CreateDirectoryW((folder / L"sing-box-urltest-5-5.json").c_str(), nullptr));

  RemoveStaleUrlTestFiles(folder.path());

  std::vector<std::wstring> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    left.push_back(entry.path().filename().wstring());
  std::vector<std::wstring> expected = kept;
  expected.push_back(L"sing-box-urltest-5-5.json");  // a folder
  std::sort(left.begin(), left.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
  RemoveStaleUrlTestFiles(folder / L"missing");  // no directory: nothing to do
}

}  // namespace
}  // namespace pelno
