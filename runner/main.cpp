// PelnoVPN: the desktop window hosting the Flutter user interface and the VPN plug-in.
#include <windows.h>
#include <objbase.h>

#include "engine/process_launcher.h"
#include "engine/system_proxy.h"
#include "engine/win32_location_platform.h"
#include "engine/win32_proxy_settings_platform.h"
#include "flutter/dart_project.h"
#include "plugin/application_session_runtime.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/win32_helper_launcher.h"
#include "plugin/win32_helper_listener_platform.h"
#include "plugin/win32_local_traffic_source.h"
#include "plugin/win32_provisioning_platform.h"
#include "plugin/wininet_helper_transport.h"
#include "runner/flutter_window.h"
#include "runner/utils.h"

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  // A DLL loaded later comes only from System32 or the application's own folder,
  // never from the current folder or PATH. flutter_windows.dll is in the import
  // table: the loader has resolved it before this runs.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
  // Output goes to the console of whoever started us; a new one opens only under a
  // debugger without one.
  if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::IsDebuggerPresent()) OpenDebugConsole();

  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  // The real platforms, built once for the whole process.
  pelno::Win32LocationPlatform locations;
  pelno::Win32ProxySettingsPlatform proxySettings;
  pelno::Win32ProvisioningPlatform provisioning;
  pelno::WinInetHelperTransport helper;
  pelno::Win32LocalTrafficSource localTraffic;
  pelno::Win32HelperListenerPlatform helperListener;

  // A run that crashed while connected left the proxy pointing at its dead engine:
  // the user's settings go back before anything else touches the proxy.
  pelno::RecoverSystemProxy(pelno::kApplicationProxyRecordName, proxySettings);
  // The plug-in's own engine, and the helper it may start itself for latency tests;
  // both run in the kill-on-close job, so neither outlives the application.
  const pelno::UniqueHandle engineJob = pelno::CreateEngineJob();
  pelno::ApplicationSessionRuntime engine(locations, proxySettings, engineJob.Get());
  pelno::Win32HelperLauncher helperLauncher(locations, engineJob.Get());
  pelno::LaunchedHelperSlot launchedHelper(helper, helperLauncher, pelno::kHelperStartRounds);

  flutter::DartProject project(L"data");
  project.set_dart_entrypoint_arguments(ReadDartArguments(::GetCommandLineW()));

  FlutterWindow window(project, pelno::PluginEnvironment{locations, engine, provisioning, helper, launchedHelper,
                                                         localTraffic, helperListener});
  if (!window.OpenTopLevel(L"PelnoVPN", Win32Window::Point{10, 10}, Win32Window::Size{450, 770})) return 1;
  window.SetQuitOnDestroy(true);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  ::CoUninitialize();
  // The window's clean-up has run. Calls it did not wait for (a helper that doesn't
  // answer) may still reach the platforms above: the process ends here, before
  // they are destroyed under those calls.
  ::ExitProcess(0);
}
