// FlutterEngine: one Flutter engine, created from a DartProject. It owns the
// engine until a FlutterViewController takes it over.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "flutter/binary_messenger.h"
#include "flutter/dart_project.h"
#include "flutter/flutter_windows.h"

namespace flutter {

class BinaryMessengerImpl;

class FlutterEngine {
 public:
  explicit FlutterEngine(const DartProject& project);
  virtual ~FlutterEngine();
  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // Starts the project's entry point (or `entry_point`, when given and the
  // project names none). False when it was already run or the engine refused.
  bool Run();
  bool Run(const char* entry_point);

  // Shuts the engine down when this object still owns it.
  void ShutDown();

  void ReloadSystemFonts();

  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name);

  // Valid as long as this object lives; null when the engine could not be created.
  BinaryMessenger* messenger();

  // Called once, on the platform thread, after the next frame is shown.
  void SetNextFrameCallback(std::function<void()> callback);

 private:
  friend class FlutterViewController;

  // Hands the engine to a view controller; this object keeps its messenger.
  FlutterDesktopEngineRef RelinquishEngine();

  static void OnNextFrame(void* user_data);

  FlutterDesktopEngineRef engine_ = nullptr;
  bool owns_engine_ = true;
  bool has_been_run_ = false;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter
