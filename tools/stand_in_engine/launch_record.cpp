#include "tools/stand_in_engine/launch_record.h"

#include "tools/stand_in_engine/json_value.h"

namespace pelno {

std::string BuildRecordLine(const LaunchRecord& record) {
  std::string line = "{\"command\":";
  AppendJsonString(line, record.command);
  line += ",\"command_line\":";
  AppendJsonString(line, record.command_line);
  line += ",\"argv\":[";
  for (size_t i = 0; i < record.argv.size(); ++i) {
    if (i > 0) line += ',';
    AppendJsonString(line, record.argv[i]);
  }
  line += "],\"cwd\":";
  AppendJsonString(line, record.cwd);
  line += ",\"env\":{";
  for (size_t i = 0; i < record.env.size(); ++i) {
    if (i > 0) line += ',';
    AppendJsonString(line, record.env[i].first);
    line += ':';
    if (record.env[i].second) {
      AppendJsonString(line, *record.env[i].second);
    } else {
      line += "null";
    }
  }
  line += "},\"pid\":" + std::to_string(record.pid) + ",\"inheritable_handles\":[";
  for (size_t i = 0; i < record.inheritable_handles.size(); ++i) {
    if (i > 0) line += ',';
    line += std::to_string(record.inheritable_handles[i]);
  }
  line += "]}\n";
  return line;
}

}  // namespace pelno
