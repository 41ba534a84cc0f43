// The control server's route table: every endpoint's method, path, content type
// and handler, in matching order.
#pragma once

#include "helper/control_router.h"

namespace pelno {

inline constexpr std::string_view kNdjson = "application/x-ndjson";

const RouteTable& ControlRoutes();

}  // namespace pelno
