// The helper program: installer ("--install-service"), Windows service, or the single
// plain process, chosen from how it was started.
#include <windows.h>

#include "helper/service_host.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  return pelno::RunHelperProgram(commandLine != nullptr ? commandLine : L"");
}
