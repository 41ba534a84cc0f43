// The engine library's C functions for engines, view controllers and views.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "flutter/flutter_export.h"
#include "flutter/flutter_messenger.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopViewControllerState* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;

typedef void (*VoidCallback)(void* user_data);

// Which GPU the engine renders with, where the machine has more than one.
typedef enum {
  NoPreference,
  LowPowerPreference,  // an integrated GPU when there is one
  HighPerformancePreference,
} FlutterDesktopGpuPreference;

// The thread the Dart UI runs on. Default is the platform thread (the window's
// message loop) on current engine releases.
typedef enum {
  Default,
  RunOnPlatformThread,
  RunOnSeparateThread,
} FlutterDesktopUIThreadPolicy;

// Paths may be relative to the program's folder. The engine copies the entry
// point and the argument array while FlutterDesktopEngineCreate runs. The layout
// is the engine library's ABI: flutter_c_api_layout.cpp pins it.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  // Null or empty: "main".
  const char* dart_entrypoint;
  int dart_entrypoint_argc;
  const char** dart_entrypoint_argv;
  FlutterDesktopGpuPreference gpu_preference;
  FlutterDesktopUIThreadPolicy ui_thread_policy;
} FlutterDesktopEngineProperties;

// ---- View controller ----

// Takes ownership of the engine (destroying it on failure) and runs it if it is
// not running yet. Null on failure.
FLUTTER_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine);

// Also shuts the engine down.
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);

FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopViewControllerGetEngine(FlutterDesktopViewControllerRef controller);

FLUTTER_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);

FLUTTER_EXPORT void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller);

// True when the engine handled the message; *result is then set.
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller,
    HWND hwnd,
    UINT message,
    WPARAM wparam,
    LPARAM lparam,
    LRESULT* result);

// ---- Engine ----

// The caller owns the engine until a view controller takes it.
FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);

FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);

// A null entry point runs the properties' entry point ("main" when that is null
// too); fails when both are given and differ.
FLUTTER_EXPORT bool FlutterDesktopEngineRun(FlutterDesktopEngineRef engine, const char* entry_point);

FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);

FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* plugin_name);

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);

// One slot: the callback runs once, on the platform thread, after the next frame
// is shown.
FLUTTER_EXPORT void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine,
                                                             VoidCallback callback,
                                                             void* user_data);

// ---- View ----

FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// ---- Process-wide ----

// 96 when unknown.
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForHWND(HWND hwnd);
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);

// Reopens the engine's stdout/stderr after the process attached a console.
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams(void);

#ifdef __cplusplus
}  // extern "C"
#endif
