// Writing the engine configuration file.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

#include "engine/data_locations.h"

namespace pelno {

// Which program writes: the two word a directory failure differently.
enum class EngineVariant { kHelper, kApplication };

// Creates the data directory and writes configText byte for byte to
// EngineConfigPath(), truncating what was there. On failure writes the message to
// `error` (helper: the system's text for the directory error code; application:
// the file-system error text of "create_directories"; both: "Failed to write
// sing-box config") and returns false.
bool WriteEngineConfig(std::string_view configText, EngineVariant variant, std::string& error,
                       LocationPlatform& locations);

// Creates `path` and every missing parent. An existing directory is success;
// returns 0 or the Win32 error code of the step that failed.
DWORD CreateDirectoryTree(const std::wstring& path);

}  // namespace pelno
