#include "helper/service_host.h"

#include <objbase.h>
#include <winsvc.h>

#include "base/unique_handle.h"
#include "helper/control_server.h"
#include "helper/helper_session.h"
#include "helper/service_installer.h"

namespace pelno {
namespace {

constexpr std::wstring_view kInstallSwitch = L"--install-service";

SERVICE_STATUS g_serviceStatus{};
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;

// The plain process: one per session, guarded by a named mutex.
int RunPlainProcess() {
  UniqueHandle instance(::CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName));
  DWORD createError = ::GetLastError();
  if (!instance || createError == ERROR_ALREADY_EXISTS) return 0;

  HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int result = RunControlServer();  // returns only when its set-up fails
  HelperSession().ShutDown();
  if (SUCCEEDED(com)) ::CoUninitialize();
  return result;
}

}  // namespace

void ReportServiceStatus(DWORD state, DWORD exitCode) {
  if (g_statusHandle == nullptr) return;
  g_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_serviceStatus.dwCurrentState = state;
  // Shutdown is accepted as well as stop: without it the service manager never sends
  // SERVICE_CONTROL_SHUTDOWN, and the proxy would stay set across a restart.
  g_serviceStatus.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  g_serviceStatus.dwWin32ExitCode = exitCode;
  g_serviceStatus.dwServiceSpecificExitCode = 0;
  g_serviceStatus.dwCheckPoint = 0;
  g_serviceStatus.dwWaitHint = 0;
  ::SetServiceStatus(g_statusHandle, &g_serviceStatus);
}

void WINAPI ServiceControlHandler(DWORD control) {
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) return;
  ReportServiceStatus(SERVICE_STOP_PENDING, 0);
  // Takes the session lock, so a start still running on a connection thread
  // finishes before the proxy is restored and the engine stopped.
  HelperSession().ShutDown();
  ReportServiceStatus(SERVICE_STOPPED, 0);
  ::ExitProcess(0);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_statusHandle = ::RegisterServiceCtrlHandlerW(kServiceName, ServiceControlHandler);
  if (g_statusHandle == nullptr) return;
  ReportServiceStatus(SERVICE_START_PENDING, 0);
  ReportServiceStatus(SERVICE_RUNNING, 0);
  int result = RunControlServer();
  ReportServiceStatus(SERVICE_STOPPED, static_cast<DWORD>(result));
}

int RunHelperProgram(std::wstring_view commandLine) {
  if (commandLine.find(kInstallSwitch) != std::wstring_view::npos) return InstallService();

  wchar_t name[] = L"PelnoVpnHelperService";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (::StartServiceCtrlDispatcherW(table)) return 0;
  if (::GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return 0;
  return RunPlainProcess();
}

}  // namespace pelno
