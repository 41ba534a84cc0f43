// Helpers of the program's entry point.
#pragma once

#include <string>
#include <vector>

// Opens a new console for this process and sends stdout and stderr to it.
void OpenDebugConsole();

// The program's arguments after its own path, as UTF-8.
std::vector<std::string> ReadDartArguments();

// UTF-16 to UTF-8; empty for a null or invalid text (an unpaired surrogate).
std::string WideToUtf8(const wchar_t* utf16_string);
