// The URL test on the real system: files in the data directory, engines started
// with the launcher, worker threads, and the helper's one registry.
#pragma once

#include "engine/data_locations.h"
#include "urltest/url_test_registry.h"
#include "urltest/url_test_stream.h"

namespace pelno {

class Win32UrlTestPlatform : public UrlTestPlatform {
 public:
  explicit Win32UrlTestPlatform(UrlTestRegistry& registry,
                                LocationPlatform& locations = SystemLocationPlatform())
      : registry_(registry), locations_(locations) {}

  bool CheckConfig(std::string_view config, std::string& reason) override;
  bool CreateDataDirectory() override;
  std::wstring MakeConfigPath() override;
  bool WriteConfig(const std::wstring& path, std::string_view config, std::string& error) override;
  void DeleteConfig(const std::wstring& path) override;
  bool MeasureNode(const std::wstring& configPath, const UrlTestRequest& request,
                   const std::string& nodeTag, NodeMeasurement& record) override;
  std::thread StartWorker(std::function<void()> work) override;

 private:
  UrlTestRegistry& registry_;
  LocationPlatform& locations_;
};

// The helper's registry: a cancel terminates engines with exit code 1.
UrlTestRegistry& SystemUrlTestRegistry();
// The platform over SystemUrlTestRegistry.
UrlTestPlatform& SystemUrlTestPlatform();

}  // namespace pelno
