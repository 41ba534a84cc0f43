// The stand-in's controller API: GET /traffic streams the current rates once a
// second, GET /connections answers the totals.
#pragma once

#include <string>

#include "tools/stand_in_engine/stand_in_config.h"
#include "tools/stand_in_engine/traffic_meter.h"

namespace pelno {

// Binds the endpoint and serves it for the rest of the process's life.
// `meter` must outlive the process's threads (a static object).
bool StartControllerApi(const ListenEndpoint& endpoint, TrafficMeter& meter, std::string& error);

// Ticks the meter once a second on a thread of its own.
bool StartRateSampler(TrafficMeter& meter);

}  // namespace pelno
