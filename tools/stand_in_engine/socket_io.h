// Winsock pieces shared by the stand-in's listeners, relays and fetch command.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/unique_handle.h"
#include "tools/stand_in_engine/stand_in_config.h"
#include "tools/stand_in_engine/traffic_meter.h"

namespace pelno {

// Starts Winsock 2.2 for the life of the object.
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return error_ == 0; }
  int error() const { return error_; }

 private:
  int error_ = 0;
};

// "<what> failed: <Winsock error code>"
std::string SocketError(std::string_view what, int code);

// Sets the receive and send time-outs of a socket.
void SetSocketTimeouts(SOCKET s, uint32_t timeout_ms);

// Connects to every address `host` resolves to in turn until one accepts.
UniqueSocket ConnectTcp(const std::string& host, uint16_t port, std::string& error);

// A listening socket on the endpoint. Exclusive use of the address, so a port that
// is taken is reported instead of shared.
UniqueSocket ListenTcp(const ListenEndpoint& endpoint, std::string& error);

bool SendAll(SOCKET s, std::string_view data);

// Reads until `buffer` holds a complete request head, the peer stops sending, or
// the head exceeds `limit`. Returns the head length, or 0 when none arrived.
size_t ReceiveHead(SOCKET s, std::string& buffer, size_t limit);

// Copies bytes both ways until `remote` closes (or either side fails). When the
// client stops sending first, the remote is told so and its answer still flows
// back. Bytes client→remote count as upload, remote→client as download.
void RelayBoth(SOCKET client, SOCKET remote, TrafficMeter& meter);

// Accepts connections on a thread of its own for the rest of the process's life and
// hands each to `handler` on a new detached thread. False when no thread could start.
using ConnectionHandler = std::function<void(UniqueSocket)>;
bool ServeConnections(UniqueSocket listener, ConnectionHandler handler);

}  // namespace pelno
