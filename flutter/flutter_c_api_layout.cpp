// The engine library's structs as the real flutter_windows.dll reads them (x64):
// an edit that moves a field fails the build instead of the program at start.
#include <cstddef>
#include <cstdint>

#include "flutter/flutter_messenger.h"
#if defined(_WIN32)
#include "flutter/flutter_windows.h"
#endif

#if INTPTR_MAX == INT64_MAX

static_assert(offsetof(FlutterDesktopMessage, struct_size) == 0);
static_assert(offsetof(FlutterDesktopMessage, channel) == 8);
static_assert(offsetof(FlutterDesktopMessage, message) == 16);
static_assert(offsetof(FlutterDesktopMessage, message_size) == 24);
static_assert(offsetof(FlutterDesktopMessage, response_handle) == 32);
static_assert(sizeof(FlutterDesktopMessage) == 40);

#if defined(_WIN32)
static_assert(offsetof(FlutterDesktopEngineProperties, assets_path) == 0);
static_assert(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8);
static_assert(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint) == 24);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) == 32);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) == 40);
static_assert(offsetof(FlutterDesktopEngineProperties, gpu_preference) == 48);
static_assert(offsetof(FlutterDesktopEngineProperties, ui_thread_policy) == 52);
static_assert(sizeof(FlutterDesktopEngineProperties) == 56);

static_assert(NoPreference == 0 && LowPowerPreference == 1 && HighPerformancePreference == 2);
static_assert(Default == 0 && RunOnPlatformThread == 1 && RunOnSeparateThread == 2);
static_assert(sizeof(FlutterDesktopGpuPreference) == 4 && sizeof(FlutterDesktopUIThreadPolicy) == 4);
#endif

#endif  // 64-bit: the engine library exists for x64 and arm64 only
