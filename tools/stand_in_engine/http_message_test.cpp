#include "tools/stand_in_engine/http_message.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(HttpMessageTest, Ipv4Literals) {
  for (const char* good : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.0.0.01"}) {
    EXPECT_TRUE(IsIpv4Literal(good)) << good;
  }
  for (const char* bad : {"", "localhost", "127.0.0", "127.0.0.1.", ".127.0.0.1", "256.0.0.1",
                          "1.2.3.4.5", "1..2.3", "::1", "1.2.3.1234", "1.2.3.a"}) {
    EXPECT_FALSE(IsIpv4Literal(bad)) << bad;
  }
}

TEST(HttpMessageTest, SplitsHostAndPort) {
  std::string host;
  uint16_t port = 0;
  ASSERT_TRUE(SplitHostPort("example.com:443", host, port));
  EXPECT_EQ(host, "example.com");
  EXPECT_EQ(port, 443);
  ASSERT_TRUE(SplitHostPort("[::1]:8080", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 8080);
  ASSERT_TRUE(SplitHostPort(":65535", host, port));
  EXPECT_EQ(host, "");
  EXPECT_EQ(port, 65535);
  for (const char* bad :
       {"example.com", "example.com:", "example.com:0", "example.com:65536", "example.com:+80",
        "example.com:8o", "::1:80", "[::1]80", "[::1", "a b:80", "example.com:123456"}) {
    EXPECT_FALSE(SplitHostPort(bad, host, port)) << bad;
  }
}

TEST(HttpMessageTest, ParsesHttpUrls) {
  HttpUrl url;
  std::string error;
  ASSERT_TRUE(ParseHttpUrl("http://127.0.0.1:8080/generate_204?a=1#frag", url, error)) << error;
  EXPECT_EQ(url.host, "127.0.0.1");
  EXPECT_EQ(url.port, 8080);
  EXPECT_EQ(url.target, "/generate_204?a=1");
  EXPECT_EQ(url.host_header, "127.0.0.1:8080");

  ASSERT_TRUE(ParseHttpUrl("HTTP://Example.com", url, error));
  EXPECT_EQ(url.host, "Example.com");
  EXPECT_EQ(url.port, 80);
  EXPECT_EQ(url.target, "/");
  EXPECT_EQ(url.host_header, "Example.com");

  ASSERT_TRUE(ParseHttpUrl("http://h?q=1", url, error));
  EXPECT_EQ(url.target, "/?q=1");

  ASSERT_TRUE(ParseHttpUrl("http://[::1]:81/x", url, error));
  EXPECT_EQ(url.host, "::1");
  EXPECT_EQ(url.port, 81);
  EXPECT_EQ(url.host_header, "[::1]:81");
  ASSERT_TRUE(ParseHttpUrl("http://[::1]/x", url, error));
  EXPECT_EQ(url.host, "::1");
  EXPECT_EQ(url.port, 80);
}

TEST(HttpMessageTest, RefusesUrlsItCannotFetch) {
  HttpUrl url;
  std::string error;
  EXPECT_FALSE(ParseHttpUrl("https://www.gstatic.com/generate_204", url, error));
  EXPECT_EQ(error, "only http:// URLs can be fetched");
  for (const char* bad : {"", "http://", "http:///path", "http://user:pw@host/", "http://host:0/",
                          "http://host:99999/", "http://a b/", "http://host/a b", "ftp://host/",
                          "http://[::1", "http://[::1]x/", "http://:80/", "http://[]/"}) {
    EXPECT_FALSE(ParseHttpUrl(bad, url, error)) << bad;
  }
}

TEST(HttpMessageTest, FindsHeadEnd) {
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\n\r\nbody"), 18u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"), std::string::npos);
  EXPECT_EQ(FindHeadEnd(""), std::string::npos);
}

TEST(HttpMessageTest, ConnectRequest) {
  ProxyRequest r;
  std::string error;
  ASSERT_TRUE(ParseProxyRequest(
      "CONNECT www.example.com:443 HTTP/1.1\r\nHost: www.example.com:443\r\n\r\n", r, error))
      << error;
  EXPECT_EQ(r.kind, ProxyRequest::Kind::kConnect);
  EXPECT_EQ(r.host, "www.example.com");
  EXPECT_EQ(r.port, 443);
  EXPECT_TRUE(r.origin_head.empty());
  EXPECT_FALSE(ParseProxyRequest("CONNECT www.example.com HTTP/1.1\r\n\r\n", r, error));
  EXPECT_FALSE(ParseProxyRequest("CONNECT :443 HTTP/1.1\r\n\r\n", r, error));
}

TEST(HttpMessageTest, AbsoluteUriIsRewrittenToOriginForm) {
  ProxyRequest r;
  std::string error;
  ASSERT_TRUE(
      ParseProxyRequest("GET http://127.0.0.1:8000/a/b?c=d HTTP/1.1\r\n"
                        "Host: 127.0.0.1:8000\r\n"
                        "Proxy-Connection: keep-alive\r\n"
                        "Connection: keep-alive\r\n"
                        "Keep-Alive: 300\r\n"
                        "Proxy-Authorization: Basic eA==\r\n"
                        "Accept: */*\r\n"
                        "X-Colon: a:b\r\n"
                        "\r\n",
                        r, error))
      << error;
  EXPECT_EQ(r.kind, ProxyRequest::Kind::kForward);
  EXPECT_EQ(r.host, "127.0.0.1");
  EXPECT_EQ(r.port, 8000);
  EXPECT_EQ(r.origin_head,
            "GET /a/b?c=d HTTP/1.1\r\nHost: 127.0.0.1:8000\r\nAccept: */*\r\nX-Colon: a:b\r\n"
            "Connection: close\r\n\r\n");
}

TEST(HttpMessageTest, MissingHostHeaderIsAddedAndVersionKept) {
  ProxyRequest r;
  std::string error;
  ASSERT_TRUE(
      ParseProxyRequest("POST http://h.example/x HTTP/1.0\r\nContent-Length: 3\r\n\r\n", r, error))
      << error;
  EXPECT_EQ(r.host, "h.example");
  EXPECT_EQ(r.port, 80);
  EXPECT_EQ(
      r.origin_head,
      "POST /x HTTP/1.0\r\nHost: h.example\r\nContent-Length: 3\r\nConnection: close\r\n\r\n");
}

TEST(HttpMessageTest, RefusesMalformedProxyRequests) {
  ProxyRequest r;
  std::string error;
  for (const char* bad : {
           "GET / HTTP/1.1\r\nHost: x\r\n\r\n",  // origin-form: not a proxy request
           "GET https://x/ HTTP/1.1\r\n\r\n",    // TLS needs CONNECT
           "GET http://x/ HTTP/1.1\r\n",         // incomplete head
           "GET http://x/  HTTP/1.1\r\n\r\n",    // double space
           "GET http://x/ HTTP/2.0\r\n\r\n",
           "GET http://x/ HTTP/1.1 extra\r\n\r\n",
           "G(T http://x/ HTTP/1.1\r\n\r\n",
           " http://x/ HTTP/1.1\r\n\r\n",
           "GET http://x/ HTTP/1.1\r\nNoColon\r\n\r\n",
           "GET http://x/ HTTP/1.1\r\n: empty name\r\n\r\n",
           "GET http://x/ HTTP/1.1\r\n folded: x\r\n\r\n",
           "\r\n\r\n",
       }) {
    EXPECT_FALSE(ParseProxyRequest(bad, r, error)) << bad;
  }
  std::string huge =
      "GET http://x/ HTTP/1.1\r\nX: " + std::string(kMaxRequestHeadBytes, 'a') + "\r\n\r\n";
  EXPECT_FALSE(ParseProxyRequest(huge, r, error));
  EXPECT_EQ(error, "request head too large");
}

TEST(HttpMessageTest, StatusCodes) {
  EXPECT_EQ(ParseStatusCode("HTTP/1.1 200 OK\r\n"), 200);
  EXPECT_EQ(ParseStatusCode("HTTP/1.0 204 No Content\r\nServer: x\r\n\r\n"), 204);
  EXPECT_EQ(ParseStatusCode("HTTP/1.1 404\r\n"), 404);
  EXPECT_EQ(ParseStatusCode("HTTP/1.1 200 OK"), -1);  // line not complete yet
  for (const char* bad :
       {"", "\r\n", "HTTP/1.1 20 OK\r\n", "HTTP/1.1 2000 OK\r\n", "HTTP/2 200 OK\r\n",
        "HTTP/1.1  200 OK\r\n", "SSH-2.0-OpenSSH\r\n", "HTTP/1.1 abc OK\r\n"}) {
    EXPECT_EQ(ParseStatusCode(bad), -1) << bad;
  }
}

TEST(HttpMessageTest, GetRequestForFetch) {
  HttpUrl url;
  std::string error;
  ASSERT_TRUE(ParseHttpUrl("http://127.0.0.1:8000/generate_204", url, error));
  EXPECT_EQ(BuildGetRequest(url),
            "GET /generate_204 HTTP/1.1\r\nHost: 127.0.0.1:8000\r\n"
            "User-Agent: pelno-stand-in-engine\r\nAccept: */*\r\nConnection: close\r\n\r\n");
}

}  // namespace
}  // namespace pelno
