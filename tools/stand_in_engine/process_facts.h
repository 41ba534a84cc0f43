// Facts about how this process was launched, for the "record_file" line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stand_in_engine/launch_record.h"

namespace pelno {

// Handle values below this are probed for the inheritable flag.
inline constexpr uintptr_t kHandleProbeLimit = 0x1000;

// Values of the handles that carry the inherit flag. Call it first thing: at that
// point they are the handles the process inherited (plus standard handles that
// the launcher made inheritable).
std::vector<uint64_t> InheritableHandleValues();

// Command line, argv, current directory, the recorded environment variables and
// the process id; `command` is "run" or "fetch".
LaunchRecord CollectLaunchRecord(const std::string& command, const std::vector<std::string>& argv,
                                 std::vector<uint64_t> inheritable_handles);

// Appends `line` to the file (created when missing) and flushes it.
// The system clock in microseconds since 1970, as Python's time.time() reads it.
uint64_t UnixTimeMicroseconds();

bool AppendRecordLine(const std::string& path_utf8, const std::string& line, std::string& error);

}  // namespace pelno
