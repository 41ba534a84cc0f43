#include "tools/stand_in_engine/direct_fetch.h"

#include "tools/stand_in_engine/http_message.h"
#include "tools/stand_in_engine/socket_io.h"

namespace pelno {
namespace {

// Each receive and send may take this long; the caller's own deadline is shorter.
constexpr uint32_t kFetchSocketTimeoutMs = 10000;
// The body is read and dropped up to this size, then the connection is closed.
constexpr size_t kMaxFetchResponseBytes = 1024 * 1024;
constexpr size_t kFetchChunkBytes = 4096;

}  // namespace

bool DirectFetch(const std::string& url, std::string& error) {
  HttpUrl parsed;
  if (!ParseHttpUrl(url, parsed, error)) return false;
  UniqueSocket s = ConnectTcp(parsed.host, parsed.port, error);
  if (!s) return false;
  SetSocketTimeouts(s.Get(), kFetchSocketTimeoutMs);
  if (!SendAll(s.Get(), BuildGetRequest(parsed))) {
    error = SocketError("sending the request", WSAGetLastError());
    return false;
  }
  std::string response;
  char chunk[kFetchChunkBytes];
  int status = -1;
  size_t received = 0;
  // Read the whole response, as a real client would, so the server is not cut
  // off mid-write; only the status line is kept.
  while (received < kMaxFetchResponseBytes) {
    int got = recv(s.Get(), chunk, sizeof(chunk), 0);
    if (got <= 0) break;
    received += static_cast<size_t>(got);
    if (status < 0 && response.size() < kFetchChunkBytes) {
      response.append(chunk, static_cast<size_t>(got));
      status = ParseStatusCode(response);
    }
  }
  if (status < 0) {
    error = "no valid HTTP status line from " + parsed.host_header;
    return false;
  }
  if (status < 200 || status > 299) {
    error = "HTTP status " + std::to_string(status);
    return false;
  }
  return true;
}

}  // namespace pelno
