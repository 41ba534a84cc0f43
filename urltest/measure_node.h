// One latency measurement: the engine fetches the test URL through one node.
#pragma once

#include <windows.h>

#include <string>

#include "engine/data_locations.h"
#include "urltest/url_test_registry.h"
#include "urltest/url_test_stream.h"

namespace pelno {

// Completion within this time counts; an engine still running then is terminated.
inline constexpr unsigned long kFetchDeadlineMs = 3000;

// Runs `"<engine>" --disable-color -c "<config>" tools -o "<tag>" fetch "<url>"` in
// the data directory, in `job` (null: none), and fills `record`. Succeeds (delayMs = the time from just
// before the launch to the engine's exit) when the engine ends with code 0 within
// kFetchDeadlineMs. An engine that runs longer, or whose run is stopped, is
// terminated with exit code 1. Its output is read while it runs and up to its end,
// for diagnosis only.
bool MeasureNode(const std::wstring& configPath, UrlTestRegistry::RunId run,
                 const std::string& nodeTag, const std::string& testUrl, NodeMeasurement& record,
                 UrlTestRegistry& registry, LocationPlatform& locations, HANDLE job);

}  // namespace pelno
