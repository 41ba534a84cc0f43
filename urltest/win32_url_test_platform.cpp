#include "urltest/win32_url_test_platform.h"

#include <windows.h>

#include "engine/engine_config.h"
#include "engine/process_launcher.h"
#include "urltest/measure_node.h"
#include "urltest/url_test_config_file.h"

namespace pelno {

bool Win32UrlTestPlatform::CreateDataDirectory() {
  return CreateDirectoryTree(DataDirectory(locations_)) == ERROR_SUCCESS;
}

std::wstring Win32UrlTestPlatform::MakeConfigPath() { return MakeUrlTestConfigPath(locations_); }

bool Win32UrlTestPlatform::WriteConfig(const std::wstring& path, std::string_view config,
                                       std::string& error) {
  return WriteUrlTestConfig(path, config, error);
}

void Win32UrlTestPlatform::DeleteConfig(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

bool Win32UrlTestPlatform::MeasureNode(const std::wstring& configPath, UrlTestRegistry::RunId run,
                                       const std::string& nodeTag, const std::string& testUrl,
                                       NodeMeasurement& record) {
  return pelno::MeasureNode(configPath, run, nodeTag, testUrl, record, registry_, locations_, job_);
}

std::thread Win32UrlTestPlatform::StartWorker(std::function<void()> work) {
  return std::thread(std::move(work));
}

void TerminateUrlTestEngine(UrlTestRegistry::ProcessRef process) {
  static_cast<const LaunchedProcess*>(process)->TerminateAndWait(1, 0);  // no wait: the measuring thread waits
}

}  // namespace pelno
