#include "plugin/application_session_runtime.h"

#include "engine/data_locations.h"

namespace pelno {

bool ApplicationSessionRuntime::StartEngine(std::string& error) {
  if (StartApplicationEngine(engine_, EngineConfigPath(locations_), error, locations_, job_)) return true;
  pelno::StopEngine(engine_);  // an engine that exited at once stays in the slot until stopped
  return false;
}

}  // namespace pelno
