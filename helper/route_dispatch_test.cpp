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

class RouteDispatchTest : public ::testing::Test {
 protected:
  RouteTable routes_{
      {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("pong"); }, nullptr},
      {"POST", "/echo", kApplicationJson, [](const ControlRequest& r) { return "[" + r.body + "]"; },
       nullptr},
      {"GET", "/later", kApplicationJson, nullptr, nullptr},
      {"POST", "/stream", "application/x-ndjson", nullptr,
       [](const ControlRequest& r, ResponseChannel& out) {
         out.Send("head");
         out.Send(r.body);
       }},
      {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("second"); }, nullptr},
  };
};

TEST_F(RouteDispatchTest, FirstExactMatchAnswersWithTheRouteContentType) {
  const HttpResponse echo = Dispatch(routes_, Request("POST", "/echo", "{}"));
  EXPECT_EQ(echo.status, 200);
  EXPECT_EQ(echo.contentType, "application/json");
  EXPECT_EQ(echo.body, "[{}]");
  EXPECT_EQ(Dispatch(routes_, Request("GET", "/ping")).body, "pong");
}

TEST_F(RouteDispatchTest, AnythingButAnExactMatchWithAHandlerIs404) {
  for (const ControlRequest& request :
       {Request("POST", "/ping"), Request("GET", "/ping?x=1"), Request("get", "/ping"),
        Request("GET", "/PING"), Request("GET", "/ping/"), Request("", ""), Request("GET", "/later")}) {
    EXPECT_EQ(Dispatch(routes_, request).status, 404) << request.method << " " << request.path;
  }
}

TEST_F(RouteDispatchTest, StreamRoutesWriteTheirOwnResponseOthersSendOnce) {
  RecordingChannel stream, ping;
  ServeRequest(routes_, Request("POST", "/stream", "line"), stream);
  EXPECT_EQ(stream.sends, (std::vector<std::string>{"head", "line"}));
  ServeRequest(routes_, Request("GET", "/ping"), ping);
  ASSERT_EQ(ping.sends.size(), 1u);
  EXPECT_TRUE(ping.sends[0].ends_with("\r\n\r\npong")) << ping.sends[0];
}

// The header-too-large and forbidden replies are read over sockets; this one is not.
TEST(RefusalResponseTest, ContentLengthAboveTheBodyLimitIs413) {
  EXPECT_EQ(RefusalResponse(RequestState::kBodyTooLarge)->status, 413);
}

}  // namespace
}  // namespace pelno
