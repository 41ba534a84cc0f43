// The status map the plug-in answers connection calls with, and its reading of the
// helper's status reply.
#pragma once

#include <string_view>

#include "engine/engine_contract.h"
#include "flutter/encodable_value.h"

namespace pelno {

// {"status": status, "platform": "windows", "message": message}, all strings.
flutter::EncodableValue MakeStatusMap(std::string_view status, std::string_view message);

// The reply's "status" and "message", each replaced by its default when empty; the
// reply's own "platform" is not read.
flutter::EncodableValue ParseStatusReply(std::string_view reply, std::string_view defaultStatus,
                                         std::string_view defaultMessage);

// The "status" text of a status map; empty when there is none.
std::string StatusOf(const flutter::EncodableValue& statusMap);

}  // namespace pelno
