#include "helper/request_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

std::string Block(const std::string& headers) { return "GET /ping HTTP/1.1\r\n" + headers; }

// Any Origin header is refused, and every Host header must be loopback.
TEST(RequestGuardTest, OriginAndForeignHostsAreRefused) {
  const struct {
    std::string block;
    bool allowed;
  } cases[] = {
      {Block("Host: 127.0.0.1:17891\r\nOrigin: http://127.0.0.1"), false},
      {Block("ORIGIN: null"), false},
      {Block("Origin:"), false},
      {Block("X-A: 1\nOrigin: http://evil.example"), false},  // a bare line feed hides nothing
      {Block("X-Origin-Trace: 1\r\nReferer: http://a/origin: b"), true},
      {"GET /origin:x HTTP/1.1\r\nHost: localhost", true},  // the request line is no header
      {Block("Host: 127.0.0.1"), true},
      {Block("host: LocalHost:80"), true},
      {Block("Host:localhost  "), true},
      {Block("Host: evil.example:17891"), false},
      {Block("Host: 127.0.0.1.evil.example"), false},
      {Block("Host: localhost.evil.example:17891"), false},
      {Block("Host: [::1]:17891"), false},
      {Block("Host: 127.0.0.1:80@evil"), false},
      {Block("Host: "), false},
      {Block("Host: localhost\r\nHost: evil.example"), false},
      {Block("X-Host: evil.example"), true},
      {"GET /ping HTTP/1.1", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRequestAllowed(c.block), c.allowed) << c.block;
}

}  // namespace
}  // namespace pelno
