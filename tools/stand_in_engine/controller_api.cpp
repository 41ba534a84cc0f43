#include "tools/stand_in_engine/controller_api.h"

#include <system_error>

#include "base/detached_thread.h"
#include "tools/stand_in_engine/socket_io.h"

namespace pelno {
namespace {

constexpr size_t kMaxControllerHeadBytes = 8 * 1024;
// Time a client has to send its request; also bounds a send to a client that
// stopped reading the traffic stream.
constexpr uint32_t kControllerSocketTimeoutMs = 10000;
constexpr DWORD kTrafficIntervalMs = 1000;

void ServeControllerClient(UniqueSocket client, TrafficMeter& meter) {
  SetSocketTimeouts(client.Get(), kControllerSocketTimeoutMs);
  std::string buffer;
  size_t head_end = ReceiveHead(client.Get(), buffer, kMaxControllerHeadBytes);
  if (head_end == 0) return;
  std::string_view line = std::string_view(buffer).substr(0, buffer.find("\r\n"));
  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  std::string_view method = line.substr(0, sp1);
  std::string_view target =
      sp2 == std::string_view::npos ? std::string_view() : line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view path = target.substr(0, target.find('?'));

  if (method != "GET") {
    SendAll(client.Get(),
            "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  } else if (path == "/traffic") {
    // A close-delimited stream of one JSON object per line; the first at once.
    if (!SendAll(
            client.Get(),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n")) {
      return;
    }
    while (SendAll(client.Get(), TrafficLine(meter.Rates()))) Sleep(kTrafficIntervalMs);
    return;
  } else if (path == "/connections") {
    std::string body = ConnectionsBody(meter.Totals());
    SendAll(client.Get(), "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  } else {
    SendAll(client.Get(),
            "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  }
  shutdown(client.Get(), SD_SEND);
}

}  // namespace

bool StartControllerApi(const ListenEndpoint& endpoint, TrafficMeter& meter, std::string& error) {
  UniqueSocket listener = ListenTcp(endpoint, error);
  if (!listener) return false;
  if (!ServeConnections(std::move(listener), [&meter](UniqueSocket client) {
        ServeControllerClient(std::move(client), meter);
      })) {
    error = "cannot start the controller thread";
    return false;
  }
  return true;
}

bool StartRateSampler(TrafficMeter& meter) {
  try {
    StartDetachedThread([&meter]() {
      while (true) {
        Sleep(kTrafficIntervalMs);
        meter.Tick();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace pelno
