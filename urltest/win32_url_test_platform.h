// The URL test on the real system: files in the data directory, engines started
// with the launcher, worker threads.
#pragma once

#include <windows.h>

#include "engine/data_locations.h"
#include "urltest/url_test_registry.h"
#include "urltest/url_test_stream.h"

namespace pelno {

class Win32UrlTestPlatform : public UrlTestPlatform {
 public:
  // `job` is the program's engine job (null: none); all three must outlive the platform.
  Win32UrlTestPlatform(UrlTestRegistry& registry, LocationPlatform& locations, HANDLE job)
      : registry_(registry), locations_(locations), job_(job) {}

  bool CreateDataDirectory() override;
  std::wstring MakeConfigPath() override;
  bool WriteConfig(const std::wstring& path, std::string_view config, std::string& error) override;
  void DeleteConfig(const std::wstring& path) override;
  bool MeasureNode(const std::wstring& configPath, UrlTestRegistry::RunId run,
                   const std::string& nodeTag, const std::string& testUrl,
                   NodeMeasurement& record) override;
  std::thread StartWorker(std::function<void()> work) override;

 private:
  UrlTestRegistry& registry_;
  LocationPlatform& locations_;
  const HANDLE job_;
};

// How the helper's registry ends the engines of a canceled run: exit code 1.
void TerminateUrlTestEngine(UrlTestRegistry::ProcessRef process);

}  // namespace pelno
