// Test tool: drives and reads a service through the service control manager, for
// tests that check what the helper's installer and service host did.
//   pelno-service-probe query NAME   -> one JSON line with configuration and status
//   pelno-service-probe start NAME   -> StartServiceW, waits for RUNNING
//   pelno-service-probe stop NAME    -> stop control, waits for STOPPED
//   pelno-service-probe wait-stopped NAME
//   pelno-service-probe delete NAME  -> stops it if needed, DeleteService
// Exit code 0 on success; otherwise 1, with {"error":N} on standard output, N the
// Win32 error code of the failing call (exit codes do not carry it whole under Wine).
#include <windows.h>
#include <winsvc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "helper/service_control_manager.h"

using pelno::UniqueServiceHandle;

namespace {

std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return "";
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int Fail(const char* what) {
  DWORD error = ::GetLastError();
  std::fprintf(stderr, "%s failed: %lu\n", what, error);
  std::printf("{\"error\":%lu}\n", error);
  return 1;
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof status, &needed) != FALSE;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
    SERVICE_STATUS_PROCESS status{};
    if (QueryStatus(service, status) && status.dwCurrentState == state) return true;
    ::Sleep(50);
  }
  return false;
}

int Query(SC_HANDLE service) {
  DWORD needed = 0;
  ::QueryServiceConfigW(service, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed + 16);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed))
    return Fail("QueryServiceConfigW");

  std::string description;
  needed = 0;
  ::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
  std::vector<BYTE> descBuffer(needed + 16);
  if (::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, descBuffer.data(),
                             static_cast<DWORD>(descBuffer.size()), &needed)) {
    description = Utf8(reinterpret_cast<SERVICE_DESCRIPTIONW*>(descBuffer.data())->lpDescription);
  }

  SERVICE_STATUS_PROCESS status{};
  if (!QueryStatus(service, status)) return Fail("QueryServiceStatusEx");

  std::printf(
      "{\"binaryPath\":%s,\"displayName\":%s,\"account\":%s,\"description\":%s,"
      "\"serviceType\":%lu,\"startType\":%lu,\"errorControl\":%lu,"
      "\"state\":%lu,\"controlsAccepted\":%lu,\"exitCode\":%lu,\"pid\":%lu}\n",
      Json(Utf8(config->lpBinaryPathName)).c_str(), Json(Utf8(config->lpDisplayName)).c_str(),
      Json(Utf8(config->lpServiceStartName)).c_str(), Json(description).c_str(),
      config->dwServiceType, config->dwStartType, config->dwErrorControl, status.dwCurrentState,
      status.dwControlsAccepted, status.dwWin32ExitCode, status.dwProcessId);
  return 0;
}

int Stop(SC_HANDLE service) {
  SERVICE_STATUS status{};
  // A service that ends its process from the stop handler may break the control
  // call itself; what counts is that it reaches STOPPED.
  if (!::ControlService(service, SERVICE_CONTROL_STOP, &status))
    std::fprintf(stderr, "ControlService: %lu\n", ::GetLastError());
  return WaitForState(service, SERVICE_STOPPED, 20000) ? 0 : Fail("waiting for STOPPED");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pelno-service-probe query|start|stop|wait-stopped|delete NAME\n");
    return 2;
  }
  std::wstring command = argv[1];
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return Fail("OpenSCManagerW");
  UniqueServiceHandle service(::OpenServiceW(
      manager.Get(), argv[2],
      SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP | DELETE));
  if (!service) return Fail("OpenServiceW");

  if (command == L"query") return Query(service.Get());
  if (command == L"start") {
    if (!::StartServiceW(service.Get(), 0, nullptr)) return Fail("StartServiceW");
    return WaitForState(service.Get(), SERVICE_RUNNING, 20000) ? 0 : Fail("waiting for RUNNING");
  }
  if (command == L"stop") return Stop(service.Get());
  if (command == L"wait-stopped")
    return WaitForState(service.Get(), SERVICE_STOPPED, 20000) ? 0 : Fail("waiting for STOPPED");
  if (command == L"delete") {
    Stop(service.Get());
    return ::DeleteService(service.Get()) ? 0 : Fail("DeleteService");
  }
  std::fprintf(stderr, "unknown command\n");
  return 2;
}
