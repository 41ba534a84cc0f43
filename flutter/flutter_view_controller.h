// FlutterViewController: an engine running a DartProject and the view that
// shows it. engine() and view() are null when the engine library failed.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "flutter/dart_project.h"
#include "flutter/flutter_engine.h"
#include "flutter/flutter_view.h"
#include "flutter/flutter_windows.h"

namespace flutter {

class FlutterViewController {
 public:
  FlutterViewController(int width, int height, const DartProject& project);
  // Destroys the view and shuts the engine down.
  virtual ~FlutterViewController();
  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }
  FlutterView* view() const { return view_.get(); }

  // Asks for a new frame.
  void ForceRedraw();

  // Offers a top-level window message to the engine; a value when it handled it.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd,
                                                  UINT message,
                                                  WPARAM wparam,
                                                  LPARAM lparam);

 private:
  std::unique_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
  FlutterDesktopViewControllerRef controller_ = nullptr;
};

}  // namespace flutter
