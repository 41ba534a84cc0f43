// Helpers of the program's entry point.
#pragma once

#include <string>
#include <vector>

// Opens a new console for this process and sends stdout and stderr to it.
void OpenDebugConsole();

// The arguments of `commandLine` (the program's, GetCommandLineW) after the
// program's own path, as UTF-8; an unpaired surrogate becomes U+FFFD.
std::vector<std::string> ReadDartArguments(const wchar_t* commandLine);
