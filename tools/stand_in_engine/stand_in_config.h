// What the stand-in engine takes from a configuration file: the listeners a real
// engine would open (controller API, HTTP proxy inbounds), the outbounds by tag,
// and the test-only "stand_in" object that scripts its behaviour.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelno {

inline constexpr std::string_view kMixedInboundTag = "pelno-vpn-mixed";
inline constexpr std::string_view kDefaultListenAddress = "127.0.0.1";
// Scripted output is built in memory; more than this is refused as a config error.
inline constexpr uint64_t kMaxScriptedOutputBytes = 64ull * 1024 * 1024;
// Longest scripted delay: one day.
inline constexpr int64_t kMaxScriptedDelayMs = 24ll * 60 * 60 * 1000;

struct ListenEndpoint {
  std::string address;  // IPv4 literal
  uint16_t port = 0;
};

struct ScriptedFetch {
  int64_t delay_ms = 0;
  bool fail = false;
};

// The "stand_in" object. Absent keys keep these defaults.
struct StandInScript {
  std::string stdout_text;
  std::string stderr_text;
  int64_t output_repeat = 1;
  std::optional<uint32_t> exit_code;
  std::optional<int64_t> exit_after_ms;
  // A process holding the standard output and error this long after the start
  // (as a console host, or a child of a real engine, can hold them).
  std::optional<int64_t> output_holder_ms;
  std::string record_file;  // UTF-8; empty: no record
  std::string fetch_end_file;  // UTF-8; empty: scripted fetches stamp no end
  std::map<std::string, ScriptedFetch> fetch;
};

struct StandInConfig {
  std::optional<ListenEndpoint> controller;
  std::vector<ListenEndpoint> proxy_inbounds;
  std::map<std::string, std::string> outbound_types;  // tag -> type
  StandInScript script;
};

// Parses strict JSON (no comments, no byte-order mark, no trailing commas) and
// reads the parts the stand-in uses. Keys it does not know are ignored, except
// inside "stand_in", where an unknown key is an error (it is most likely a typo in
// a test). Returns false with `error` set when the text is not JSON or a used key
// has a wrong type or value.
bool ParseStandInConfig(std::string_view text, StandInConfig& config, std::string& error);

}  // namespace pelno
