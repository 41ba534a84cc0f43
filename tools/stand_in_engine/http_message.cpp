#include "tools/stand_in_engine/http_message.h"

#include <cctype>
#include <vector>

namespace pelno {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ParsePort(std::string_view digits, uint16_t& port) {
  if (digits.empty() || digits.size() > 5) return false;
  uint32_t value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool IsTokenChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7F) return false;
  return std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

// Characters allowed in a request target or authority: visible ASCII only.
bool IsVisibleText(std::string_view text) {
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) return false;
  }
  return true;
}

// Headers a proxy must not pass on: they describe the client-to-proxy hop.
bool IsHopByHopHeader(std::string_view name) {
  for (std::string_view hop :
       {"connection", "proxy-connection", "keep-alive", "proxy-authorization", "te", "upgrade"}) {
    if (EqualsIgnoreCase(name, hop)) return true;
  }
  return false;
}

std::vector<std::string_view> SplitLines(std::string_view head) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < head.size()) {
    size_t end = head.find("\r\n", start);
    if (end == std::string_view::npos) end = head.size();
    lines.push_back(head.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace

bool IsIpv4Literal(std::string_view text) {
  int parts = 0;
  size_t start = 0;
  while (true) {
    size_t dot = text.find('.', start);
    std::string_view part =
        text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    if (part.empty() || part.size() > 3) return false;
    int value = 0;
    for (char c : part) {
      if (!IsDigit(c)) return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool SplitHostPort(std::string_view text, std::string& host, uint16_t& port) {
  std::string_view host_part;
  std::string_view port_part;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return false;
    }
    host_part = text.substr(1, close - 1);
    port_part = text.substr(close + 2);
  } else {
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    host_part = text.substr(0, colon);
    port_part = text.substr(colon + 1);
    if (host_part.find(':') != std::string_view::npos) return false;  // unbracketed IPv6
  }
  if (!IsVisibleText(host_part) || !ParsePort(port_part, port)) return false;
  host = std::string(host_part);
  return true;
}

bool ParseHttpUrl(std::string_view url, HttpUrl& parsed, std::string& error) {
  constexpr std::string_view kScheme = "http://";
  if (!StartsWithIgnoreCase(url, kScheme)) {
    error = "only http:// URLs can be fetched";
    return false;
  }
  std::string_view rest = url.substr(kScheme.size());
  size_t fragment = rest.find('#');
  if (fragment != std::string_view::npos) rest = rest.substr(0, fragment);
  size_t path_start = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, path_start);
  std::string_view target =
      path_start == std::string_view::npos ? std::string_view() : rest.substr(path_start);
  if (authority.empty() || authority.find('@') != std::string_view::npos ||
      !IsVisibleText(authority) || !IsVisibleText(target)) {
    error = "malformed URL authority or path";
    return false;
  }
  HttpUrl result;
  bool bracketed = authority.front() == '[';
  size_t close = bracketed ? authority.find(']') : std::string_view::npos;
  bool has_port = bracketed ? (close != std::string_view::npos && close + 1 < authority.size())
                            : authority.find(':') != std::string_view::npos;
  if (has_port) {
    if (!SplitHostPort(authority, result.host, result.port)) {
      error = "malformed host or port in URL";
      return false;
    }
  } else if (bracketed) {
    if (close != authority.size() - 1) {
      error = "malformed host in URL";
      return false;
    }
    result.host = std::string(authority.substr(1, close - 1));
  } else {
    result.host = std::string(authority);
  }
  if (result.host.empty()) {
    error = "URL without a host";
    return false;
  }
  result.host_header = std::string(authority);
  result.target = target.empty() ? "/" : std::string(target);
  if (result.target.front() == '?') result.target.insert(0, "/");
  parsed = std::move(result);
  return true;
}

size_t FindHeadEnd(std::string_view buffer) {
  size_t end = buffer.find("\r\n\r\n");
  return end == std::string_view::npos ? end : end + 4;
}

bool ParseProxyRequest(std::string_view head, ProxyRequest& request, std::string& error) {
  if (head.size() > kMaxRequestHeadBytes) {
    error = "request head too large";
    return false;
  }
  size_t end = FindHeadEnd(head);
  if (end == std::string_view::npos) {
    error = "incomplete request head";
    return false;
  }
  std::vector<std::string_view> lines = SplitLines(head.substr(0, end - 4));
  if (lines.empty()) {
    error = "empty request";
    return false;
  }
  std::string_view line = lines[0];
  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
    error = "malformed request line";
    return false;
  }
  std::string_view method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = line.substr(sp2 + 1);
  bool method_ok = !method.empty();
  for (char c : method) method_ok = method_ok && IsTokenChar(c);
  if (!method_ok || target.empty() || !StartsWithIgnoreCase(version, "HTTP/1.") ||
      version.size() != 8 || !IsDigit(version[7])) {
    error = "malformed request line";
    return false;
  }

  ProxyRequest result;
  std::string headers;
  bool has_host = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view header = lines[i];
    size_t colon = header.find(':');
    bool name_ok = colon != std::string_view::npos && colon > 0;
    for (size_t j = 0; name_ok && j < colon; ++j) name_ok = IsTokenChar(header[j]);
    if (!name_ok) {
      error = "malformed header line";
      return false;
    }
    std::string_view name = header.substr(0, colon);
    if (IsHopByHopHeader(name)) continue;
    if (EqualsIgnoreCase(name, "host")) has_host = true;
    headers.append(header);
    headers.append("\r\n");
  }

  if (method == "CONNECT") {
    result.kind = ProxyRequest::Kind::kConnect;
    if (!SplitHostPort(target, result.host, result.port) || result.host.empty()) {
      error = "CONNECT needs host:port";
      return false;
    }
    request = std::move(result);
    return true;
  }

  HttpUrl url;
  if (!ParseHttpUrl(target, url, error)) {
    error = "proxy requests need an absolute http:// URI: " + error;
    return false;
  }
  result.kind = ProxyRequest::Kind::kForward;
  result.host = url.host;
  result.port = url.port;
  result.origin_head.append(method).append(" ").append(url.target).append(" ");
  result.origin_head.append(version).append("\r\n");
  if (!has_host) result.origin_head.append("Host: ").append(url.host_header).append("\r\n");
  result.origin_head.append(headers);
  result.origin_head.append("Connection: close\r\n\r\n");
  request = std::move(result);
  return true;
}

int ParseStatusCode(std::string_view response) {
  size_t line_end = response.find("\r\n");
  if (line_end == std::string_view::npos) return -1;
  std::string_view line = response.substr(0, line_end);
  // "HTTP/1.x NNN" with an optional reason after a space.
  if (line.size() < 12 || !StartsWithIgnoreCase(line, "HTTP/1.") || !IsDigit(line[7]) ||
      line[8] != ' ') {
    return -1;
  }
  if (!IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11])) return -1;
  if (line.size() > 12 && line[12] != ' ') return -1;
  return (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
}

std::string BuildGetRequest(const HttpUrl& url) {
  std::string request = "GET " + url.target + " HTTP/1.1\r\nHost: " + url.host_header +
                        "\r\nUser-Agent: pelno-stand-in-engine\r\nAccept: */*\r\n"
                        "Connection: close\r\n\r\n";
  return request;
}

}  // namespace pelno
