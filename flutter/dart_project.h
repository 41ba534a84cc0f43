// DartProject: where the engine finds the compiled user interface. `path` is
// the "data" folder holding flutter_assets, icudtl.dat and app.so; a relative
// path is taken from the program's folder.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace flutter {

// Which GPU the engine renders with, where the machine has more than one.
enum class GpuPreference { NoPreference, LowPowerPreference, HighPerformancePreference };

// The thread the Dart UI runs on; Default is the platform thread on current
// engine releases.
enum class UIThreadPolicy { Default, RunOnPlatformThread, RunOnSeparateThread };

class DartProject {
 public:
  explicit DartProject(const std::wstring& path)
      : assets_path_(path + L"\\flutter_assets"),
        icu_data_path_(path + L"\\icudtl.dat"),
        aot_library_path_(path + L"\\app.so") {}
  ~DartProject() = default;

  // Empty means the default entry point, "main".
  void set_dart_entrypoint(const std::string& entrypoint) { dart_entrypoint_ = entrypoint; }
  const std::string& dart_entrypoint() const { return dart_entrypoint_; }

  // Passed to the Dart entry point, as UTF-8.
  void set_dart_entrypoint_arguments(std::vector<std::string> arguments) {
    dart_entrypoint_arguments_ = std::move(arguments);
  }
  const std::vector<std::string>& dart_entrypoint_arguments() const {
    return dart_entrypoint_arguments_;
  }

  void set_gpu_preference(GpuPreference gpu_preference) { gpu_preference_ = gpu_preference; }
  GpuPreference gpu_preference() const { return gpu_preference_; }

  void set_ui_thread_policy(UIThreadPolicy policy) { ui_thread_policy_ = policy; }
  UIThreadPolicy ui_thread_policy() const { return ui_thread_policy_; }

 private:
  friend class FlutterEngine;
  friend class FlutterViewController;

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }

  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string dart_entrypoint_;
  std::vector<std::string> dart_entrypoint_arguments_;
  GpuPreference gpu_preference_ = GpuPreference::NoPreference;
  UIThreadPolicy ui_thread_policy_ = UIThreadPolicy::Default;
};

}  // namespace flutter
