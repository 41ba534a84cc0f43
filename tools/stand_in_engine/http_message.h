// The HTTP texts the stand-in engine reads and writes: proxy request heads from
// clients of its inbound, http:// URLs for its fetch command, and status lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelno {

// A request head longer than this (request line and headers) is refused.
inline constexpr size_t kMaxRequestHeadBytes = 64 * 1024;

// True for a dotted-quad IPv4 address such as "127.0.0.1".
bool IsIpv4Literal(std::string_view text);

// "host:port" or "[v6]:port" → host (brackets removed; may be empty) and port 1-65535.
bool SplitHostPort(std::string_view text, std::string& host, uint16_t& port);

struct HttpUrl {
  std::string host;  // brackets removed for IPv6
  uint16_t port = 80;
  std::string target;       // origin-form: path and query, at least "/"
  std::string host_header;  // the authority as written, for the Host header
};

// Splits an "http://" URL. Other schemes, user info and bad ports are refused.
bool ParseHttpUrl(std::string_view url, HttpUrl& parsed, std::string& error);

// Offset just past the "\r\n\r\n" that ends a head, or npos when not there yet.
size_t FindHeadEnd(std::string_view buffer);

struct ProxyRequest {
  enum class Kind { kConnect, kForward };
  Kind kind = Kind::kForward;
  std::string host;
  uint16_t port = 0;
  // kForward only: the head to send to the origin, in origin-form, with the
  // hop-by-hop headers dropped and "Connection: close" added.
  std::string origin_head;
};

// Reads a proxy client's request head (ending in "\r\n\r\n"): CONNECT host:port, or
// any method with an absolute http:// URI.
bool ParseProxyRequest(std::string_view head, ProxyRequest& request, std::string& error);

// The status code of a response whose status line has arrived, or -1 when the
// text does not (yet) start with a complete, valid status line.
int ParseStatusCode(std::string_view response);

// A one-shot GET for the fetch command.
std::string BuildGetRequest(const HttpUrl& url);

}  // namespace pelno
