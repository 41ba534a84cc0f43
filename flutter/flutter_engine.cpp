#include "flutter/flutter_engine.h"

#include <utility>
#include <vector>

#include "flutter/binary_messenger_impl.h"

namespace flutter {
namespace {

FlutterDesktopGpuPreference ToC(GpuPreference preference) {
  switch (preference) {
    case GpuPreference::LowPowerPreference:
      return LowPowerPreference;
    case GpuPreference::HighPerformancePreference:
      return HighPerformancePreference;
    case GpuPreference::NoPreference:
      break;
  }
  return NoPreference;
}

FlutterDesktopUIThreadPolicy ToC(UIThreadPolicy policy) {
  switch (policy) {
    case UIThreadPolicy::RunOnPlatformThread:
      return RunOnPlatformThread;
    case UIThreadPolicy::RunOnSeparateThread:
      return RunOnSeparateThread;
    case UIThreadPolicy::Default:
      break;
  }
  return Default;
}

}  // namespace

FlutterEngine::FlutterEngine(const DartProject& project) {
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  // The entry point travels here, so Run passes none: the engine refuses a run
  // given a second, different one.
  properties.dart_entrypoint = project.dart_entrypoint().empty() ? nullptr : project.dart_entrypoint().c_str();
  // The engine copies the arguments while it is created.
  std::vector<const char*> arguments;
  for (const std::string& argument : project.dart_entrypoint_arguments()) {
    arguments.push_back(argument.c_str());
  }
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();
  properties.gpu_preference = ToC(project.gpu_preference());
  properties.ui_thread_policy = ToC(project.ui_thread_policy());

  engine_ = FlutterDesktopEngineCreate(&properties);
  if (engine_ != nullptr) {
    messenger_ = std::make_unique<BinaryMessengerImpl>(FlutterDesktopEngineGetMessenger(engine_));
  }
}

FlutterEngine::~FlutterEngine() {
  ShutDown();
  // The messenger goes after the engine: its references outlive it safely.
  messenger_.reset();
}

bool FlutterEngine::Run() { return Run(nullptr); }

bool FlutterEngine::Run(const char* entry_point) {
  if (engine_ == nullptr || has_been_run_) {
    return false;
  }
  has_been_run_ = FlutterDesktopEngineRun(engine_, entry_point);
  return has_been_run_;
}

void FlutterEngine::ShutDown() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) {
    FlutterDesktopEngineReloadSystemFonts(engine_);
  }
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

BinaryMessenger* FlutterEngine::messenger() { return messenger_.get(); }

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  if (engine_ == nullptr) {
    return;
  }
  next_frame_callback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame, this);
}

void FlutterEngine::OnNextFrame(void* user_data) {
  auto* self = static_cast<FlutterEngine*>(user_data);
  // One shot: the slot is empty again before the callback runs.
  std::function<void()> callback = std::move(self->next_frame_callback_);
  self->next_frame_callback_ = nullptr;
  if (callback) {
    callback();
  }
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  owns_engine_ = false;
  return engine_;
}

}  // namespace flutter
