// The run's engine configuration file in the data directory.
#pragma once

#include <string>
#include <string_view>

#include "engine/data_locations.h"

namespace pelno {

// DataDirectory + "\sing-box-urltest-<pid>-<run>.json"; the run number comes from a
// process-wide counter, so each call (each run) gets a file of its own.
std::wstring MakeUrlTestConfigPath(LocationPlatform& locations);

// Creates or truncates `path` and writes `bytes` to it. On failure `error` is
// "CreateFile failed: ", "WriteFile failed: " or "CloseHandle failed: " and the code.
bool WriteUrlTestConfig(const std::wstring& path, std::string_view bytes, std::string& error);

}  // namespace pelno
