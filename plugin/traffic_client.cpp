#include "plugin/traffic_client.h"

#include <winsock2.h>

#include <string>

#include "plugin/helper_client.h"
#include "plugin/traffic_snapshot_map.h"
#include "traffic/traffic_snapshot.h"

namespace pelno {
namespace {

// The local snapshot talks to the engine's controller over Winsock, which the
// application does not otherwise start.
std::string BuildLocalTrafficSnapshot() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::string(kEmptyTrafficSnapshot);
  std::string snapshot = BuildTrafficSnapshot();
  ::WSACleanup();
  return snapshot;
}

}  // namespace

bool FetchHelperTrafficSnapshot(HelperTransport& helper, flutter::EncodableValue& snapshot) {
  std::string reply;
  if (!HelperRequestText(helper, "GET", "/traffic-snapshot", {}, reply)) return false;
  snapshot = ParseTrafficSnapshot(reply);
  return true;
}

flutter::EncodableValue GetTrafficSnapshot(HelperTransport& helper, bool localEngineRuns) {
  if (localEngineRuns) return ParseTrafficSnapshot(BuildLocalTrafficSnapshot());
  flutter::EncodableValue snapshot;
  if (FetchHelperTrafficSnapshot(helper, snapshot)) return snapshot;
  return FallbackTrafficSnapshot();
}

}  // namespace pelno
