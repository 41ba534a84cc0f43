// The engine and view controller functions of the engine library. This stand-in
// runs no Dart: its view shows that the user interface bundle is missing, and its
// UI bridge (when PELNOVPN_UI_BRIDGE_PORT is set) lets a test client play the user
// interface on the channels.
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/text_encoding.h"
#include "flutter/stand_in_engine/engine_state.h"

namespace {

std::optional<std::string> CopyPath(const wchar_t* path) {
  if (!path) return std::nullopt;
  return pelno::WideToUtf8(path);
}

std::optional<std::string> CopyText(const char* text) {
  if (!text) return std::nullopt;
  return std::string(text);
}

void DispatchFromBridge(FlutterDesktopEngine* engine, pelno::stand_in::ChannelMessage message,
                        std::uint64_t client) {
  // The bridge thread hands each message to the platform thread, where the real
  // engine delivers Dart's messages too. The engine outlives its bridge thread,
  // and tasks still pending when it goes are dropped with its task runner.
  auto shared = std::make_shared<pelno::stand_in::ChannelMessage>(std::move(message));
  engine->tasks.Post([engine, shared, client] {
    pelno::stand_in::DeliverChannelMessage(*engine, std::move(*shared), client);
  });
}

}  // namespace

namespace pelno::stand_in {

void FrameShown(FlutterDesktopEngine& engine) {
  const VoidCallback callback = std::exchange(engine.nextFrame, nullptr);
  void* userData = std::exchange(engine.nextFrameData, nullptr);
  if (callback) callback(userData);
}

}  // namespace pelno::stand_in

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties) {
  if (!properties) return nullptr;
  auto engine = std::make_unique<FlutterDesktopEngine>();
  if (!engine->tasks.window()) return nullptr;
  // Everything is copied now: the caller's strings and array go when this returns.
  pelno::stand_in::ReceivedProperties& received = engine->received;
  received.assetsPath = CopyPath(properties->assets_path);
  received.icuDataPath = CopyPath(properties->icu_data_path);
  received.aotLibraryPath = CopyPath(properties->aot_library_path);
  received.dartEntrypoint = CopyText(properties->dart_entrypoint);
  for (int i = 0; i < properties->dart_entrypoint_argc && properties->dart_entrypoint_argv; ++i) {
    const char* argument = properties->dart_entrypoint_argv[i];
    received.dartEntrypointArguments.emplace_back(argument ? argument : "");
  }
  received.gpuPreference = properties->gpu_preference;
  received.uiThreadPolicy = properties->ui_thread_policy;
  auto messenger = std::make_unique<FlutterDesktopMessenger>();
  messenger->engine = engine.get();
  engine->messenger = messenger.release();
  engine->registrar.engine = engine.get();
  return engine.release();
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (!engine) return false;
  std::unique_ptr<FlutterDesktopEngine> owned(engine);
  // Senders on other threads hold the lock across a send: once it is ours, none is
  // inside the engine, and later ones find the messenger unavailable.
  {
    std::lock_guard lock(owned->messenger->lock);
    owned->messenger->engine = nullptr;
  }
  owned->bridge.reset();
  FlutterDesktopMessengerRelease(owned->messenger);
  return true;
}

bool FlutterDesktopEngineRun(FlutterDesktopEngineRef engine, const char* entry_point) {
  if (!engine) return false;
  if (engine->running) return true;
  // As the real engine: two different entry points, one from the properties and
  // one here, are refused.
  const std::optional<std::string>& configured = engine->received.dartEntrypoint;
  if (entry_point && *entry_point && configured && !configured->empty() && *configured != entry_point) {
    std::fprintf(stderr, "stand-in engine: conflicting entry points \"%s\" and \"%s\"\n", configured->c_str(),
                 entry_point);
    return false;
  }
  engine->running = true;
  engine->received.runEntryPoint = CopyText(entry_point);
  if (const auto port = pelno::stand_in::UiBridgePortFromEnvironment()) {
    auto bridge = pelno::stand_in::UiBridge::Start(
        *port,
        [engine](pelno::stand_in::ChannelMessage message, std::uint64_t client) {
          DispatchFromBridge(engine, std::move(message), client);
        },
        pelno::stand_in::MakeReceivedPropertiesFrame(engine->received));
    if (!bridge) std::fprintf(stderr, "stand-in engine: UI bridge port %u is not free\n", unsigned{*port});
    std::lock_guard lock(engine->messenger->lock);
    engine->bridge = std::move(bridge);
  }
  return true;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  // Fonts are looked up at every paint of the notice; a repaint picks up new ones.
  if (engine && engine->view) pelno::stand_in::ScheduleFrame(*engine->view);
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                        const char* /*plugin_name*/) {
  return engine ? &engine->registrar : nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine ? engine->messenger : nullptr;
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, VoidCallback callback,
                                              void* user_data) {
  if (!engine) return;
  engine->nextFrame = callback;
  engine->nextFrameData = user_data;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  if (!engine) return nullptr;
  std::unique_ptr<FlutterDesktopEngine, bool (*)(FlutterDesktopEngineRef)> owned(engine,
                                                                                  &FlutterDesktopEngineDestroy);
  if (!FlutterDesktopEngineRun(engine, nullptr)) return nullptr;
  auto view = pelno::stand_in::CreateView(*engine, width, height);
  if (!view) return nullptr;
  auto controller = std::make_unique<FlutterDesktopViewControllerState>();
  engine->view = view.get();
  controller->view = std::move(view);
  controller->engine = owned.release();
  pelno::stand_in::ScheduleFrame(*controller->view);
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (!controller) return;
  std::unique_ptr<FlutterDesktopViewControllerState> owned(controller);
  owned->engine->view = nullptr;
  pelno::stand_in::DestroyView(*owned->view);
  FlutterDesktopEngineDestroy(owned->engine);
}

FlutterDesktopEngineRef FlutterDesktopViewControllerGetEngine(FlutterDesktopViewControllerRef controller) {
  return controller ? controller->engine : nullptr;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  return controller ? controller->view.get() : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  if (controller) pelno::stand_in::ScheduleFrame(*controller->view);
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef /*controller*/,
                                                          HWND /*hwnd*/, UINT /*message*/, WPARAM /*wparam*/,
                                                          LPARAM /*lparam*/, LRESULT* /*result*/) {
  // Nothing of the top-level window concerns a view that only shows a notice.
  return false;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view ? view->window : nullptr; }

void FlutterDesktopResyncOutputStreams() {
  // This library writes through the C runtime that the program shares, whose
  // streams the program has already reopened; what is buffered goes out now.
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // extern "C"
