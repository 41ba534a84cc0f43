// The application's top-level window: hosts the Flutter view and the VPN plug-in.
#pragma once

#include <memory>

#include "flutter/dart_project.h"
#include "flutter/flutter_view_controller.h"
#include "plugin/vpn_plugin_host.h"
#include "runner/win32_window.h"

class FlutterWindow : public Win32Window {
 public:
  // The plug-in works on the platforms of `environment`, which must outlive the window.
  FlutterWindow(const flutter::DartProject& project, const pelno::PluginEnvironment& environment);
  ~FlutterWindow() override;

 protected:
  bool OnWindowCreated() override;
  void OnWindowDestroyed() override;
  LRESULT HandleMessage(HWND window, UINT const message, WPARAM const wparam, LPARAM const lparam) noexcept override;

 private:
  flutter::DartProject project_;
  pelno::PluginEnvironment plugin_environment_;
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
  // The plug-in's channels, latency sink and connection controller. Declared last:
  // it goes first, and always while the engine's messenger still exists.
  std::unique_ptr<pelno::VpnPluginHost> plugin_host_;
};
