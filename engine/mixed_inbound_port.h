// Finds the local port of the mixed inbound ("pelno-vpn-mixed") in an engine
// configuration.
#pragma once

#include <string_view>

#include "engine/engine_contract.h"

namespace pelno {

// The "listen_port" of the first entry of "inbounds" tagged "pelno-vpn-mixed",
// when it is an integer from 1 to 65535; kDefaultProxyPort otherwise. Without such
// an inbound, the first "listen_port" key in the text counts. A text that is not
// JSON is scanned: the first "listen_port" after the tag's text, or else the first
// in the text. Never throws.
int FindMixedInboundPort(std::string_view configText);

}  // namespace pelno
