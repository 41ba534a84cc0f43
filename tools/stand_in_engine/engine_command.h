// The two command lines an engine accepts:
//   run -c <config>
//   --disable-color -c <config> tools -o <outbound tag> fetch <url>
#pragma once

#include <string>
#include <vector>

namespace pelno {

inline constexpr char kStandInUsage[] =
    "usage: sing-box run -c <config> | sing-box --disable-color -c <config> tools -o <tag> fetch "
    "<url>";

struct EngineCommand {
  enum class Kind { kUsage, kRun, kFetch };
  Kind kind = Kind::kUsage;
  std::string config_path;
  std::string outbound_tag;
  std::string url;
};

// `args` are the arguments after the program name, in UTF-8. Anything that is not
// exactly one of the two forms gives kUsage.
EngineCommand ParseEngineCommand(const std::vector<std::string>& args);

}  // namespace pelno
