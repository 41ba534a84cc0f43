// The helper program: installer ("--install-service"), Windows service, or the single
// plain process, chosen from how it was started.
#include <windows.h>

#include <chrono>

#include "base/running_under_wine.h"
#include "engine/engine_contract.h"
#include "engine/engine_process.h"
#include "engine/process_launcher.h"
#include "engine/win32_location_platform.h"
#include "engine/win32_proxy_settings_platform.h"
#include "helper/control_api.h"
#include "helper/helper_session_runtime.h"
#include "helper/service_host.h"
#include "helper/helper_session_controller.h"
#include "server/caller_check.h"
#include "server/control_server.h"
#include "server/log_journal.h"
#include "server/win32_caller_lookup.h"
#include "traffic/traffic_snapshot.h"
#include "urltest/win32_url_test_platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  // Run as LocalSystem: a DLL loaded later comes only from System32, never from the
  // current folder or PATH. What the program imports the loader has resolved already.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  using namespace pelno;
  // The real platforms, built once for the whole process.
  Win32LocationPlatform locations;
  Win32ProxySettingsPlatform proxySettings;
  Win32OutputPipeFactory pipes;
  // Every engine the helper starts runs in this job and ends with the helper.
  const UniqueHandle engineJob = CreateEngineJob();
  UrlTestRegistry urlTestRegistry(TerminateUrlTestEngine);
  Win32UrlTestPlatform urlTests(urlTestRegistry, locations, engineJob.Get());

  LogJournal journal;
  HelperSessionRuntime runtime(journal, locations, proxySettings, pipes, engineJob.Get());
  HelperSessionController session(runtime);
  const RouteTable routes =
      MakeControlApiRoutes({session, journal, BuildTrafficSnapshot, urlTests, urlTestRegistry});
  Win32CallerLookup callerLookup(kControlPort);
  // Wine's socket tables name no owner: there the callers cannot be known.
  CallerGate callers(callerLookup, journal, RunningUnderWine(),
                     [] { return std::chrono::steady_clock::now(); });
  ControlServer server(routes, journal, callers, ::setsockopt);
  HelperProgram program{journal, session, server, locations, proxySettings};
  const int exitCode = RunHelperProgram(commandLine != nullptr ? commandLine : L"", program);
  // Connection threads may still be answering and use the objects above: end the
  // process here rather than destroy them under those threads.
  ::ExitProcess(static_cast<UINT>(exitCode));
}
