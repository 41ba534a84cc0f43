#include "helper/request_guard.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

std::string Block(const std::string& headers) { return "GET /ping HTTP/1.1\r\n" + headers; }

TEST(RequestGuardTest, OriginHeaderOfAnyValueIsRefused) {
  EXPECT_FALSE(IsRequestAllowed(Block("Host: 127.0.0.1:17891\r\nOrigin: http://127.0.0.1")));
  EXPECT_FALSE(IsRequestAllowed(Block("ORIGIN: null")));
  EXPECT_FALSE(IsRequestAllowed(Block("Origin:")));
  EXPECT_FALSE(IsRequestAllowed(Block("Origin : x")));
}

TEST(RequestGuardTest, HeadersOnlyContainingOriginInTheirNameAreNotOrigin) {
  EXPECT_TRUE(IsRequestAllowed(Block("X-Origin-Trace: 1\r\nX-Origin: 2")));
  EXPECT_TRUE(IsRequestAllowed(Block("Referer: http://a/origin: b")));
  // The request line is not a header line.
  EXPECT_TRUE(IsRequestAllowed("GET /origin:x HTTP/1.1\r\nHost: localhost"));
}

TEST(RequestGuardTest, BareLineFeedDoesNotHideAnOriginHeader) {
  EXPECT_FALSE(IsRequestAllowed(Block("X-A: 1\nOrigin: http://evil.example")));
}

TEST(RequestGuardTest, LoopbackHostsWithAnyPortAreAllowed) {
  EXPECT_TRUE(IsRequestAllowed(Block("Host: 127.0.0.1:17891")));
  EXPECT_TRUE(IsRequestAllowed(Block("Host: 127.0.0.1")));
  EXPECT_TRUE(IsRequestAllowed(Block("host: LocalHost:80")));
  EXPECT_TRUE(IsRequestAllowed(Block("Host:localhost  ")));
  EXPECT_TRUE(IsRequestAllowed(Block("Host: localhost:")));
}

TEST(RequestGuardTest, ForeignOrMalformedHostsAreRefused) {
  EXPECT_FALSE(IsRequestAllowed(Block("Host: evil.example")));
  EXPECT_FALSE(IsRequestAllowed(Block("Host: evil.example:17891")));
  EXPECT_FALSE(IsRequestAllowed(Block("Host: 127.0.0.1.evil.example")));
  EXPECT_FALSE(IsRequestAllowed(Block("Host: localhost.evil.example:17891")));
  EXPECT_FALSE(IsRequestAllowed(Block("Host: [::1]:17891")));
  EXPECT_FALSE(IsRequestAllowed(Block("Host: 127.0.0.1:80@evil")));
  EXPECT_FALSE(IsRequestAllowed(Block("Host: ")));
}

TEST(RequestGuardTest, EveryHostHeaderMustBeLoopback) {
  EXPECT_FALSE(IsRequestAllowed(Block("Host: localhost\r\nHost: evil.example")));
}

TEST(RequestGuardTest, RequestWithoutHostIsAllowed) {
  EXPECT_TRUE(IsRequestAllowed(Block("Content-Length: 0")));
  EXPECT_TRUE(IsRequestAllowed("GET /ping HTTP/1.1"));
  EXPECT_TRUE(IsRequestAllowed(Block("X-Host: evil.example")));
}

TEST(RequestGuardTest, HasHeaderLineIsAnchoredAtTheLineStart) {
  const std::string block = Block("X-Origin-Trace: 1\r\nhost: a");
  EXPECT_FALSE(HasHeaderLine(block, "Origin"));
  EXPECT_TRUE(HasHeaderLine(block, "Host"));
  EXPECT_TRUE(HasHeaderLine(block, "x-origin-trace"));
}

}  // namespace
}  // namespace pelno
