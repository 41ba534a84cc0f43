// The traffic snapshot behind "getTrafficSnapshot".
#pragma once

#include "flutter/encodable_value.h"
#include "plugin/helper_transport.h"

namespace pelno {

// While the application's own engine carries the traffic (proxy mode), the snapshot
// is built here with the helper's traffic library and read exactly as a helper
// reply; otherwise the helper is asked. Without an answer: the fallback of zeros.
flutter::EncodableValue GetTrafficSnapshot(HelperTransport& helper, bool localEngineRuns);

// GET "/traffic-snapshot" from the helper; false when the exchange failed.
bool FetchHelperTrafficSnapshot(HelperTransport& helper, flutter::EncodableValue& snapshot);

}  // namespace pelno
