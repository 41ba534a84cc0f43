// The system's own message text for a Win32 error code.
#pragma once

#include <windows.h>

#include <string>

namespace pelno {

// FormatMessage's text in UTF-8 without its trailing line end; "Windows error N"
// when the system has no text for the code.
std::string SystemErrorText(DWORD code);

}  // namespace pelno
