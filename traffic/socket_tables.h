// The system's TCP and UDP endpoint tables, read into a SocketCollector, and the
// display names of the processes that own the sockets.
#pragma once

#include <cstdint>
#include <string>

#include "traffic/socket_collector.h"

namespace pelno {

// Established TCP connections (remote address and port) and UDP sockets (local
// address and port), each row offered to OfferSocketRow in the system's order. A
// table that can't be read contributes nothing.
void CollectTcp4(SocketCollector& collector);
void CollectTcp6(SocketCollector& collector);
void CollectUdp4(SocketCollector& collector);
void CollectUdp6(SocketCollector& collector);

// The file name of the process's program in UTF-8 ("svc.exe"), or "pid-<id>" when
// it can't be queried; empty when the name can't be converted.
std::string ProcessDisplayName(std::uint32_t pid);

}  // namespace pelno
