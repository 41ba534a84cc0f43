// The helper's check of an engine configuration before it runs the engine with its
// own rights: every value that names a file must stay inside the data directory, the
// engine's working directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pelno {

// Reads `configText` whole with the JSON library (comments allowed, every duplicate
// key seen, keys compared the way the engine's decoder does: case-insensitively).
// File-bearing values:
//   log.output, experimental.cache_file.path, experimental.clash_api.external_ui,
//   the "path" of route.rule_set entries, route.geoip, route.geosite and dns.servers
//   entries (hosts files), and anywhere every value whose key ends in "_path",
//   "_directory", "_dir" or "_file" (a string or a list of strings), except
//   "process_path", a route-rule matcher that names no file the engine opens.
// Returns the refusal message for the first file-bearing value, in text order, that
// is not a plain relative path inside the data directory:
//   "Configuration refused: <key> must be a relative path inside the data directory"
// with <key> written as a dotted path, list elements by index
// ("route.rule_set[0].path", "certificate.certificate_path[1]"). A text the library
// cannot read is refused too ("Configuration refused: the configuration is not valid
// JSON"): the engine's own decoder takes texts the library does not (stray bytes in
// strings, unpaired surrogate escapes), so nothing unread may reach it; nor may
// nesting deeper than the engine's decoder takes (10000 levels).
// No value: the configuration may run.
std::optional<std::string> CheckEngineConfiguration(std::string_view configText);

// Whether `value` is empty or a plain relative path that stays inside the folder it
// is resolved in: no drive, root, UNC or device prefix, no ':' at all, no ".."
// (nor any other segment Windows would shorten: trailing dots or spaces), no
// reserved device name (CON, NUL, COM1, ...), no wildcard, control or expansion
// character ('%', '$', a leading '~'), and at least one named segment.
bool IsPathInsideDataDirectory(std::string_view value);

}  // namespace pelno
