// The JSON line the stand-in appends to its "record_file" at start, so tests can
// see exactly how it was launched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelno {

// The environment variables every launch is expected to set.
inline constexpr const char* kRecordedEnvironmentVariables[] = {
    "ENABLE_DEPRECATED_LEGACY_DNS_SERVERS",
    "ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM",
    "ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER",
};

struct LaunchRecord {
  std::string command;       // "run" or "fetch"
  std::string command_line;  // the raw command line, UTF-8
  std::vector<std::string> argv;
  std::string cwd;
  std::vector<std::pair<std::string, std::optional<std::string>>> env;  // unset: nullopt
  uint32_t pid = 0;
  std::vector<uint64_t> inheritable_handles;  // handle values found at start
  bool console = false;                       // attached to a console
};

// One line: {"command":...,"command_line":...,"argv":[...],"cwd":...,"env":{...},
// "pid":N,"inheritable_handles":[...],"console":bool} and a line feed.
std::string BuildRecordLine(const LaunchRecord& record);

}  // namespace pelno
