#include "helper/service_host.h"

#include <objbase.h>
#include <winsvc.h>

#include <atomic>
#include <string>

#include "base/unique_handle.h"
#include "engine/data_locations.h"
#include "engine/system_proxy.h"
#include "helper/service_installer.h"
#include "helper/service_status_reporter.h"
#include "helper/stale_run_files.h"
#include "helper/win32_service_files.h"
#include "helper/helper_session_controller.h"
#include "server/control_server.h"
#include "server/log_journal.h"

namespace pelno {
namespace {

constexpr std::wstring_view kInstallSwitch = L"--install-service";
// How long a console control handler waits for the plain process's clean-up before
// it lets the system end the process anyway.
constexpr DWORD kConsoleCleanUpWaitMs = 10000;

static_assert(static_cast<DWORD>(ServiceState::kStopped) == SERVICE_STOPPED &&
              static_cast<DWORD>(ServiceState::kStartPending) == SERVICE_START_PENDING &&
              static_cast<DWORD>(ServiceState::kStopPending) == SERVICE_STOP_PENDING &&
              static_cast<DWORD>(ServiceState::kRunning) == SERVICE_RUNNING);
static_assert(kAcceptStop == SERVICE_ACCEPT_STOP && kAcceptShutdown == SERVICE_ACCEPT_SHUTDOWN);

// SetServiceStatus with the handle ServiceMain registered; the handle is set before
// the first report.
class Win32ServiceStatusSink : public ServiceStatusSink {
 public:
  void SetStatus(const ServiceStatusReport& report) override {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = static_cast<DWORD>(report.state);
    status.dwControlsAccepted = report.controlsAccepted;
    status.dwWin32ExitCode = report.exitCode;
    status.dwCheckPoint = report.checkPoint;
    status.dwWaitHint = report.waitHintMs;
    ::SetServiceStatus(handle.load(), &status);
  }

  std::atomic<SERVICE_STATUS_HANDLE> handle{nullptr};
};

// What the service runs with; it lives in RunHelperProgram's frame, which outlives
// the dispatcher and so every callback.
struct ServiceRun {
  HelperProgram& program;
  Win32ServiceStatusSink sink;
  ServiceStatusReporter reporter{sink};
};

// ServiceMain and the console control handler carry no context: they reach the
// program's objects through these pointers, set once before the dispatcher starts.
HelperProgram* g_program = nullptr;
ServiceRun* g_service = nullptr;

// Set by the plain process once its clean-up has run, for the console handler.
HANDLE g_cleanedUp = nullptr;

// Ctrl+C, Ctrl+Break, console close, log-off and shutdown end the plain process the
// way a service stop ends the service: stop accepting, let a session operation in
// progress finish, restore the proxy, stop the engine. The system ends the process
// once this returns for the last three, so it waits for that clean-up.
BOOL WINAPI ConsoleControlHandler(DWORD) {
  g_program->server.Stop();
  ::WaitForSingleObject(g_cleanedUp, kConsoleCleanUpWaitMs);
  return TRUE;
}

// A helper that died with the proxy pointed at its engine left a record of the
// user's settings: put them back before anything else touches the proxy.
void RecoverProxyAfterUncleanExit(HelperProgram& program) {
  LogJournal& journal = program.journal;
  switch (RecoverSystemProxy(kHelperProxyRecordName, program.proxySettings)) {
    case ProxyRecovery::kNoRecord:
      break;
    case ProxyRecovery::kRestored:
      journal.AppendLog("System proxy restored after an unclean exit");
      break;
    case ProxyRecovery::kChangedSince:
      journal.AppendLog("System proxy changed since an unclean exit; left as it is");
      break;
    case ProxyRecovery::kUnreadable:
      journal.AppendLog("Saved system proxy record was unreadable and has been removed");
      break;
    case ProxyRecovery::kRestoreFailed:
      journal.AppendLog("Failed to restore Windows system proxy after an unclean exit");
      break;
  }
}

// Serves until stopped. Once the control port is this process's, latency-test run
// files that a helper killed during its run left behind are removed: no run can
// be active then.
int ServeControlApi(HelperProgram& program) {
  return program.server.Run([&program] { RemoveStaleUrlTestFiles(DataDirectory(program.locations)); });
}

// The plain process: one per session, guarded by a named mutex.
int RunPlainProcess(HelperProgram& program) {
  UniqueHandle instance(::CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName));
  const DWORD createError = ::GetLastError();
  if (!instance || createError == ERROR_ALREADY_EXISTS) return 0;

  UniqueHandle cleanedUp(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_cleanedUp = cleanedUp.Get();
  ::SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);

  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RecoverProxyAfterUncleanExit(program);
  const int result = ServeControlApi(program);  // returns on a set-up failure or a stop
  program.session.ShutDown();
  program.server.FinishAnswers();
  if (SUCCEEDED(com)) ::CoUninitialize();
  ::SetEvent(g_cleanedUp);
  return result;
}

// Runs on the dispatcher thread and only signals: the clean-up runs on the service's
// main thread once the server has stopped accepting (ServiceMain).
DWORD WINAPI ServiceControlHandler(DWORD control, DWORD, LPVOID, LPVOID context) {
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) return ERROR_CALL_NOT_IMPLEMENTED;
  ServiceRun& service = *static_cast<ServiceRun*>(context);
  service.reporter.Report(ServiceState::kStopPending);
  service.program.server.Stop();
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  ServiceRun& service = *g_service;
  HelperProgram& program = service.program;
  const SERVICE_STATUS_HANDLE handle =
      ::RegisterServiceCtrlHandlerExW(kHelperServiceName, ServiceControlHandler, &service);
  if (handle == nullptr) return;
  service.sink.handle = handle;
  service.reporter.Report(ServiceState::kStartPending);
  program.session.RunUnderServiceManager();
  service.reporter.Report(ServiceState::kRunning);
  RecoverProxyAfterUncleanExit(program);
  const int result = ServeControlApi(program);
  service.reporter.Report(ServiceState::kStopPending);
  // Waits for a start or stop still running on a connection thread (the session
  // lock), then restores the proxy and stops the engine; later starts are refused.
  program.session.ShutDown();
  // The process may end once the service is reported stopped: answers still being
  // written (to a start the shut-down waited for) go out first.
  program.server.FinishAnswers();
  service.reporter.Report(ServiceState::kStopped, static_cast<DWORD>(result));
}

}  // namespace

int RunHelperProgram(std::wstring_view commandLine, HelperProgram& program) {
  if (commandLine.find(kInstallSwitch) != std::wstring_view::npos) {
    Win32ServiceControlManager manager;
    Win32ServiceFiles files;
    return InstallService(manager, files, program.locations);
  }

  g_program = &program;
  ServiceRun service{program};
  g_service = &service;
  std::wstring name(kHelperServiceName);
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  if (::StartServiceCtrlDispatcherW(table)) return 0;
  if (::GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return 0;
  return RunPlainProcess(program);
}

}  // namespace pelno
