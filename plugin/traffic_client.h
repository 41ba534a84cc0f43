// The traffic snapshot behind "getTrafficSnapshot".
#pragma once

#include <string>

#include "flutter/encodable_value.h"
#include "plugin/helper_transport.h"

namespace pelno {

// The snapshot of the application's own engine as the text a helper would send: a
// seam, so that the plug-in runs in native tests; Win32LocalTrafficSource
// (plugin/win32_local_traffic_source.h) is the real one.
class LocalTrafficSource {
 public:
  virtual ~LocalTrafficSource() = default;
  virtual std::string BuildSnapshot() = 0;
};

// While the application's own engine carries the traffic (proxy mode), the snapshot
// is built from `local` and read exactly as a helper reply; otherwise the helper is
// asked. Without an answer: the fallback of zeros.
flutter::EncodableValue GetTrafficSnapshot(HelperTransport& helper, LocalTrafficSource& local,
                                           bool localEngineRuns);

// GET "/traffic-snapshot" from the helper; false when the exchange failed.
bool FetchHelperTrafficSnapshot(HelperTransport& helper, flutter::EncodableValue& snapshot);

}  // namespace pelno
