#include "flutter/flutter_view_controller.h"

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height, const DartProject& project)
    : engine_(std::make_unique<FlutterEngine>(project)) {
  if (engine_->engine_ == nullptr) {
    engine_.reset();
    return;
  }
  // The controller takes the engine over, runs it, and destroys it on failure.
  controller_ = FlutterDesktopViewControllerCreate(width, height, engine_->RelinquishEngine());
  if (controller_ == nullptr) {
    engine_.reset();
    return;
  }
  engine_->has_been_run_ = true;
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerDestroy(controller_);
  }
}

void FlutterViewController::ForceRedraw() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerForceRedraw(controller_);
  }
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND hwnd,
                                                                       UINT message,
                                                                       WPARAM wparam,
                                                                       LPARAM lparam) {
  if (controller_ == nullptr) {
    return std::nullopt;
  }
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, hwnd, message, wparam,
                                                           lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
