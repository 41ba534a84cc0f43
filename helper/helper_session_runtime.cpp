#include "helper/helper_session_runtime.h"

#include "engine/data_locations.h"
#include "server/log_journal.h"

namespace pelno {

bool HelperSessionRuntime::StartEngine(std::string& error) {
  return StartHelperEngine(engine_, EngineConfigPath(locations_), error, locations_, pipes_, job_);
}

void HelperSessionRuntime::AppendLog(std::string_view message) { journal_.AppendLog(message); }

}  // namespace pelno
