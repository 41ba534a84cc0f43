// What stands behind the engine library's opaque handles.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "flutter/flutter_windows.h"
#include "flutter/stand_in_engine/platform_tasks.h"
#include "flutter/stand_in_engine/ui_bridge.h"

// The messenger outlives its engine while others hold references; once the engine
// is gone it is unavailable and drops whatever is sent through it. Its lock keeps
// the engine from going away during a send; it may be taken again by the thread
// that holds it (a locked send calls the send functions, which lock too).
struct FlutterDesktopMessenger {
  std::atomic<int> references{1};
  std::recursive_mutex lock;
  FlutterDesktopEngine* engine = nullptr;  // guarded by `lock`
};

// Answers one delivered message: where the reply goes.
struct _FlutterPlatformMessageResponseHandle {
  std::uint32_t id = 0;
  std::uint64_t client = 0;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
};

struct FlutterDesktopView {
  FlutterDesktopEngine* engine = nullptr;
  HWND window = nullptr;
  HBITMAP frame = nullptr;  // the last rendered frame, shown by WM_PAINT
  SIZE frameSize{};
};

struct FlutterDesktopViewControllerState {
  FlutterDesktopEngine* engine = nullptr;  // owned
  std::unique_ptr<FlutterDesktopView> view;
};

struct FlutterDesktopEngine {
  struct Channel {
    FlutterDesktopMessageCallback callback = nullptr;
    void* userData = nullptr;
  };

  pelno::stand_in::ReceivedProperties received;  // copied by Create, completed by Run
  bool running = false;

  pelno::stand_in::PlatformTaskRunner tasks;  // created on the platform thread with the engine
  FlutterDesktopMessenger* messenger = nullptr;  // one reference held by the engine
  FlutterDesktopPluginRegistrar registrar;
  FlutterDesktopView* view = nullptr;  // the view of the controller that owns the engine

  std::mutex channelsLock;
  std::map<std::string, Channel> channels;

  VoidCallback nextFrame = nullptr;  // one slot, platform thread only
  void* nextFrameData = nullptr;

  std::unique_ptr<pelno::stand_in::UiBridge> bridge;  // set by Run when the bridge is asked for
};

namespace pelno::stand_in {

// Delivers a message from the user interface to its channel's callback; platform thread.
void DeliverChannelMessage(FlutterDesktopEngine& engine, ChannelMessage message, std::uint64_t client);

// Called on the platform thread when the view has rendered a frame: runs the
// next-frame callback once.
void FrameShown(FlutterDesktopEngine& engine);

// The view's child window, parented to the engine's hidden task window.
std::unique_ptr<FlutterDesktopView> CreateView(FlutterDesktopEngine& engine, int width, int height);
void DestroyView(FlutterDesktopView& view);
// Renders a new frame soon, on the platform thread.
void ScheduleFrame(FlutterDesktopView& view);

}  // namespace pelno::stand_in
