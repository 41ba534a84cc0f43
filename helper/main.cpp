// The helper program: installer ("--install-service"), Windows service, or the single
// plain process, chosen from how it was started.
#include <windows.h>

#include "helper/control_api.h"
#include "helper/engine_session_runtime.h"
#include "helper/service_host.h"
#include "helper/session_controller.h"
#include "server/control_server.h"
#include "server/log_journal.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  using namespace pelno;
  LogJournal journal;
  EngineSessionRuntime runtime(journal);
  SessionController session(runtime);
  const RouteTable routes = MakeControlApiRoutes(session, journal);
  ControlServer server(routes, journal);
  HelperProgram program{journal, session, server};
  const int exitCode = RunHelperProgram(commandLine != nullptr ? commandLine : L"", program);
  // Connection threads may still be answering and use the objects above: end the
  // process here rather than destroy them under those threads.
  ::ExitProcess(static_cast<UINT>(exitCode));
}
