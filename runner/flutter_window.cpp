#include "runner/flutter_window.h"

FlutterWindow::FlutterWindow(const flutter::DartProject& project, const pelno::PluginEnvironment& environment)
    : project_(project), plugin_environment_(environment) {}

FlutterWindow::~FlutterWindow() {
  // The plug-in's clean-up (proxy restored, engine stopped, helper session stopped)
  // has normally run when the window was destroyed; this covers a window that
  // never got that far.
  plugin_host_.reset();
  flutter_controller_.reset();
}

bool FlutterWindow::OnWindowCreated() {
  if (!Win32Window::OnWindowCreated()) return false;

  const RECT frame = ClientRectangle();
  flutter_controller_ =
      std::make_unique<flutter::FlutterViewController>(frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!flutter_controller_->engine() || !flutter_controller_->view()) return false;

  // The VPN plug-in is the only one registered.
  plugin_host_ = std::make_unique<pelno::VpnPluginHost>(flutter_controller_->engine()->messenger(), plugin_environment_);
  EmbedChildWindow(flutter_controller_->view()->GetNativeWindow());

  // Shown when the first frame is ready; the redraw makes sure a frame comes even
  // if the first one was done before the callback was set.
  flutter_controller_->engine()->SetNextFrameCallback([this] { ShowTopLevel(); });
  flutter_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnWindowDestroyed() {
  // The plug-in goes before the engine: its clean-up and channels still find the
  // messenger in place.
  plugin_host_.reset();
  flutter_controller_.reset();
  Win32Window::OnWindowDestroyed();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT const message, WPARAM const wparam,
                                     LPARAM const lparam) noexcept {
  if (flutter_controller_) {
    if (const std::optional<LRESULT> result =
            flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam)) {
      return *result;
    }
  }

  switch (message) {
    case WM_FONTCHANGE:
      if (flutter_controller_) flutter_controller_->engine()->ReloadSystemFonts();
      break;
    case WM_QUERYENDSESSION:
      // Sign-out or shutdown is never held up here.
      return TRUE;
    case WM_ENDSESSION:
      // The session ends and the process may be ended any time after this returns:
      // close now, which runs the clean-up of closing the window (user's proxy
      // back, no engine left) and ends the message loop.
      if (wparam) ::DestroyWindow(window);
      return 0;
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}
