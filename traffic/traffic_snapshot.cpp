#include "traffic/traffic_snapshot.h"

namespace pelno {

std::string FormatTrafficSnapshot(std::int64_t up, std::int64_t down, std::int64_t uploadTotal,
                                  std::int64_t downloadTotal, std::string_view processesArrayBody) {
  std::string out = "{\"uploadBytesPerSecond\":";
  out += std::to_string(up);
  out += ",\"downloadBytesPerSecond\":";
  out += std::to_string(down);
  out += ",\"uploadTotalBytes\":";
  out += std::to_string(uploadTotal);
  out += ",\"downloadTotalBytes\":";
  out += std::to_string(downloadTotal);
  out += ",\"processes\":[";
  out += processesArrayBody;
  out += "]}";
  return out;
}

}  // namespace pelno

#ifdef _WIN32
#include "engine/json_fields.h"
#include "traffic/controller_client.h"
#include "traffic/socket_collector.h"
#include "traffic/socket_tables.h"

namespace pelno {

std::string BuildTrafficSnapshot() {
  // A failed request leaves its reply empty, which reads as zeros.
  std::string trafficReply;
  std::string connectionsReply;
  ControllerGet(kControllerPort, "/traffic", kControllerTimeoutMs, trafficReply);
  ControllerGet(kControllerPort, "/connections", kControllerTimeoutMs, connectionsReply);
  const std::int64_t up = JsonInt64Field(trafficReply, "up");
  const std::int64_t down = JsonInt64Field(trafficReply, "down");
  const std::int64_t uploadTotal = JsonInt64Field(connectionsReply, "uploadTotal");
  const std::int64_t downloadTotal = JsonInt64Field(connectionsReply, "downloadTotal");

  SocketCollector collector(ProcessDisplayName);
  CollectTcp4(collector);
  CollectTcp6(collector);
  CollectUdp4(collector);
  CollectUdp6(collector);
  return FormatTrafficSnapshot(up, down, uploadTotal, downloadTotal, collector.Entries());
}

}  // namespace pelno
#endif
