#include "tools/stand_in_engine/launch_record.h"

#include <nlohmann/json.hpp>

namespace pelno {

std::string BuildRecordLine(const LaunchRecord& record) {
  // Members in the order readers of the file expect.
  nlohmann::ordered_json env = nlohmann::ordered_json::object();
  for (const auto& [name, value] : record.env) {
    env[name] = value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
  }
  const nlohmann::ordered_json line = {
      {"command", record.command},
      {"command_line", record.command_line},
      {"argv", record.argv},
      {"cwd", record.cwd},
      {"env", env},
      {"pid", record.pid},
      {"inheritable_handles", record.inheritable_handles},
      {"console", record.console},
  };
  // Bytes that are not UTF-8 become U+FFFD instead of failing the record.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace pelno
