// The traffic snapshot as the user interface receives it: the helper's JSON
// snapshot turned into a map.
#pragma once

#include <string_view>

#include "flutter/encodable_value.h"

namespace pelno {

// Four 64-bit numbers ("uploadBytesPerSecond", "downloadBytesPerSecond",
// "uploadTotalBytes", "downloadTotalBytes") and "processes", a list with one map of
// nine members per complete entry object after "\"processes\":["; an entry cut off
// by the end of the text is dropped.
flutter::EncodableValue ParseTrafficSnapshot(std::string_view text);

// What the user interface gets when no snapshot can be had: four 32-bit zeros and
// an empty list.
flutter::EncodableValue FallbackTrafficSnapshot();

}  // namespace pelno
