// Where files live: the data directory, the program's own directory, and the
// lookups of the programs that are launched.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

// Roaming application data + "\PelnoVPN"; the executable directory when the known
// folder cannot be had. Never empty.
std::wstring DataDirectory();
// DataDirectory() + "\sing-box.json".
std::wstring EngineConfigPath();
// The running program's directory, or "." when its path cannot be read.
std::wstring ExecutableDirectory();
// The running program's full path, or empty.
std::wstring ExecutablePath();

// UTF-8 to UTF-16; empty for empty input or a failed conversion.
std::wstring Utf8ToWide(std::string_view text);

}  // namespace pelno
