#include "helper/route_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelno {
namespace {

class RecordingChannel : public ResponseChannel {
 public:
  bool Send(std::string_view bytes) override {
    sends.emplace_back(bytes);
    return true;
  }
  std::vector<std::string> sends;
};

ControlRequest Request(std::string method, std::string path, std::string body = "") {
  return {std::move(method), std::move(path), "", std::move(body)};
}

constexpr char kNotFoundBytes[] =
    "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
    "Connection: close\r\n\r\nnot found";

class ControlRouterTest : public ::testing::Test {
 protected:
  RouteTable routes_{
      {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("pong"); },
       nullptr},
      {"POST", "/echo", kApplicationJson,
       [](const ControlRequest& r) { return "[" + r.body + "]"; }, nullptr},
      {"GET", "/later", kApplicationJson, nullptr, nullptr},
      {"POST", "/stream", "application/x-ndjson", nullptr,
       [](const ControlRequest& r, ResponseChannel& out) {
         out.Send("head");
         out.Send(r.body);
       }},
      {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("second"); },
       nullptr},
  };
  RecordingChannel channel_;
};

TEST_F(ControlRouterTest, PingIsAnsweredWithExactBytesInOneSend) {
  ServeRequest(routes_, Request("GET", "/ping"), channel_);
  ASSERT_EQ(channel_.sends.size(), 1u);
  EXPECT_EQ(channel_.sends[0],
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n"
            "Connection: close\r\n\r\npong");
}

TEST_F(ControlRouterTest, HandlerGetsTheBodyAndRouteContentTypeIsUsed) {
  const HttpResponse response = Dispatch(routes_, Request("POST", "/echo", "{}"));
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.reason, "OK");
  EXPECT_EQ(response.contentType, "application/json");
  EXPECT_EQ(response.body, "[{}]");
}

TEST_F(ControlRouterTest, UnknownRequestsAndRoutesWithoutHandlerAnswer404) {
  for (const ControlRequest& request :
       {Request("POST", "/ping"), Request("GET", "/ping?x=1"), Request("get", "/ping"),
        Request("GET", "/PING"), Request("GET", "/ping/"), Request("", ""),
        Request("GET", "/later")}) {  // a known route without a handler too
    RecordingChannel channel;
    ServeRequest(routes_, request, channel);
    ASSERT_EQ(channel.sends.size(), 1u);
    EXPECT_EQ(channel.sends[0], kNotFoundBytes) << request.method << " " << request.path;
  }
}

TEST_F(ControlRouterTest, FirstMatchingRowWins) {
  EXPECT_EQ(Dispatch(routes_, Request("GET", "/ping")).body, "pong");
}

TEST_F(ControlRouterTest, StreamRouteWritesItsOwnResponse) {
  ServeRequest(routes_, Request("POST", "/stream", "line"), channel_);
  EXPECT_EQ(channel_.sends, (std::vector<std::string>{"head", "line"}));
}

TEST(RefusalResponseTest, RefusedRequestsGetTheirExactReplies) {
  EXPECT_FALSE(RefusalResponse(RequestState::kIncomplete).has_value());
  EXPECT_FALSE(RefusalResponse(RequestState::kComplete).has_value());
  const std::string tooLarge =
      "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\nContent-Length: 17\r\n"
      "Connection: close\r\n\r\nrequest too large";
  EXPECT_EQ(FormatHttpResponse(*RefusalResponse(RequestState::kHeaderTooLarge)), tooLarge);
  EXPECT_EQ(FormatHttpResponse(*RefusalResponse(RequestState::kBodyTooLarge)), tooLarge);
  EXPECT_EQ(FormatHttpResponse(*RefusalResponse(RequestState::kForbidden)),
            "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
            "Connection: close\r\n\r\nforbidden");
}

TEST(FormatHttpResponseTest, ContentLengthCountsBytesOfBinaryBody) {
  const std::string body("a\0\xc3\xa9", 4);
  EXPECT_EQ(FormatHttpResponse(200, "OK", "application/json", body),
            std::string("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 4\r\n"
                        "Connection: close\r\n\r\n") +
                body);
}

}  // namespace
}  // namespace pelno
