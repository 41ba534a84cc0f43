// The helper program started as a plain process: it runs the control server.
#include <windows.h>

#include "helper/control_server.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return pelno::RunControlServer(); }
