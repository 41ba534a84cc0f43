#include "tools/stand_in_engine/proxy_inbound.h"

#include "tools/stand_in_engine/http_message.h"
#include "tools/stand_in_engine/socket_io.h"

namespace pelno {
namespace {

// Time a client has to send its request head.
constexpr uint32_t kRequestHeadTimeoutMs = 10000;

void Reply(SOCKET s, std::string_view status) {
  SendAll(s,
          "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

void ServeProxyClient(UniqueSocket client, TrafficMeter& meter) {
  SetSocketTimeouts(client.Get(), kRequestHeadTimeoutMs);
  std::string buffer;
  size_t head_end = ReceiveHead(client.Get(), buffer, kMaxRequestHeadBytes);
  if (head_end == 0) {
    if (buffer.size() > kMaxRequestHeadBytes)
      Reply(client.Get(), "431 Request Header Fields Too Large");
    return;
  }
  ProxyRequest request;
  std::string error;
  if (!ParseProxyRequest(std::string_view(buffer).substr(0, head_end), request, error)) {
    Reply(client.Get(), "400 Bad Request");
    return;
  }
  UniqueSocket remote = ConnectTcp(request.host, request.port, error);
  if (!remote) {
    Reply(client.Get(), "502 Bad Gateway");
    return;
  }
  // Relayed connections may stay quiet for long; the relay has its own idle limit.
  SetSocketTimeouts(client.Get(), 0);
  std::string_view early_body = std::string_view(buffer).substr(head_end);
  if (request.kind == ProxyRequest::Kind::kConnect) {
    if (!SendAll(client.Get(), "HTTP/1.1 200 Connection established\r\n\r\n")) return;
  } else {
    if (!SendAll(remote.Get(), request.origin_head)) return;
    meter.AddUpload(request.origin_head.size());
  }
  if (!early_body.empty()) {
    if (!SendAll(remote.Get(), early_body)) return;
    meter.AddUpload(early_body.size());
  }
  RelayBoth(client.Get(), remote.Get(), meter);
  shutdown(client.Get(), SD_SEND);
}

}  // namespace

bool StartProxyInbound(const ListenEndpoint& endpoint, TrafficMeter& meter, std::string& error) {
  UniqueSocket listener = ListenTcp(endpoint, error);
  if (!listener) return false;
  if (!ServeConnections(std::move(listener), [&meter](UniqueSocket client) {
        ServeProxyClient(std::move(client), meter);
      })) {
    error = "cannot start the proxy thread";
    return false;
  }
  return true;
}

}  // namespace pelno
