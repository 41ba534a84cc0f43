// The traffic snapshot: the engine's rates and totals and the processes with sockets,
// as one JSON object without white space.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelno {

// The snapshot while the engine does not run.
inline constexpr std::string_view kEmptyTrafficSnapshot =
    "{\"uploadBytesPerSecond\":0,\"downloadBytesPerSecond\":0,\"uploadTotalBytes\":0,"
    "\"downloadTotalBytes\":0,\"processes\":[]}";

// The snapshot object; `processesArrayBody` is the comma-separated entries that go
// between the brackets of "processes".
std::string FormatTrafficSnapshot(std::int64_t up, std::int64_t down, std::int64_t uploadTotal,
                                  std::int64_t downloadTotal, std::string_view processesArrayBody);

#ifdef _WIN32
// Asks the engine's controller on 127.0.0.1:19090 for "/traffic" and "/connections",
// reads the system's TCP and UDP tables and returns the whole snapshot. The caller
// has already found the engine running.
std::string BuildTrafficSnapshot();
#endif

}  // namespace pelno
