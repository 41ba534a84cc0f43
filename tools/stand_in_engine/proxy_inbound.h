// The stand-in's HTTP proxy inbound: absolute-URI requests are forwarded to the
// origin and CONNECT opens a tunnel; every relayed byte is counted.
#pragma once

#include <string>

#include "tools/stand_in_engine/stand_in_config.h"
#include "tools/stand_in_engine/traffic_meter.h"

namespace pelno {

// Binds the endpoint and serves it for the rest of the process's life.
// `meter` must outlive the process's threads (a static object).
bool StartProxyInbound(const ListenEndpoint& endpoint, TrafficMeter& meter, std::string& error);

}  // namespace pelno
