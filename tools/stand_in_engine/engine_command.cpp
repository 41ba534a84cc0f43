#include "tools/stand_in_engine/engine_command.h"

namespace pelno {

EngineCommand ParseEngineCommand(const std::vector<std::string>& args) {
  EngineCommand command;
  if (args.size() == 3 && args[0] == "run" && args[1] == "-c") {
    command.kind = EngineCommand::Kind::kRun;
    command.config_path = args[2];
  } else if (args.size() == 8 && args[0] == "--disable-color" && args[1] == "-c" &&
             args[3] == "tools" && args[4] == "-o" && args[6] == "fetch") {
    command.kind = EngineCommand::Kind::kFetch;
    command.config_path = args[2];
    command.outbound_tag = args[5];
    command.url = args[7];
  }
  return command;
}

}  // namespace pelno
