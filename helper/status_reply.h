// The status reply: the one-line JSON object the session endpoints answer with.
#pragma once

#include <string>
#include <string_view>

#include "engine/engine_contract.h"

namespace pelno {

// {"status":"<status>","platform":"windows","message":"<message>"}, both texts
// escaped with EscapeJsonString.
std::string MakeStatusReply(std::string_view status, std::string_view message);

}  // namespace pelno
