#include "plugin/traffic_client.h"

#include "plugin/helper_client.h"
#include "plugin/traffic_snapshot_map.h"

namespace pelno {

// A snapshot the helper has not given in this time is not waited for.
constexpr HelperBound kTrafficSnapshotBound{5000};

bool FetchHelperTrafficSnapshot(HelperTransport& helper, flutter::EncodableValue& snapshot) {
  std::string reply;
  if (!HelperRequestText(helper, "GET", "/traffic-snapshot", {}, kTrafficSnapshotBound, reply)) return false;
  snapshot = ParseTrafficSnapshot(reply);
  return true;
}

flutter::EncodableValue GetTrafficSnapshot(HelperTransport& helper, LocalTrafficSource& local,
                                           bool localEngineRuns) {
  if (localEngineRuns) return ParseTrafficSnapshot(local.BuildSnapshot());
  flutter::EncodableValue snapshot;
  if (FetchHelperTrafficSnapshot(helper, snapshot)) return snapshot;
  return FallbackTrafficSnapshot();
}

}  // namespace pelno
