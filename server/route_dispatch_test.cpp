#include "server/route_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelno {
namespace {

struct RecordingChannel : ResponseChannel {
  bool Send(std::string_view bytes) override { return sends.emplace_back(bytes), true; }
  std::vector<std::string> sends;
};

ControlRequest Request(std::string method, std::string path, std::string body = "") {
  return {std::move(method), std::move(path), "", std::move(body)};
}

const RouteTable kRoutes{
    {"GET", "/ping", kTextPlain, [](const auto&) { return std::string("pong"); }, nullptr},
    {"POST", "/echo", kApplicationJson, [](const ControlRequest& r) { return "[" + r.body + "]"; },
     nullptr},
    {"GET", "/later", kApplicationJson, nullptr, nullptr},
    {"POST", "/stream", "application/x-ndjson", nullptr,
     [](const ControlRequest& r, ResponseChannel& out) {
       out.Send("head");
       out.Send(r.body);
     }},
    {"GET", "/ping", kTextPlain, [](const auto&) { return std::string("second"); }, nullptr},
};

TEST(RouteDispatchTest, FirstExactMatchAnswersWithTheRouteContentType) {
  const HttpResponse echo = Dispatch(kRoutes, Request("POST", "/echo", "{}"));
  EXPECT_EQ(echo.status, 200);
  EXPECT_EQ(echo.contentType, "application/json");
  EXPECT_EQ(echo.body, "[{}]");
  EXPECT_EQ(Dispatch(kRoutes, Request("GET", "/ping")).body, "pong");
}

TEST(RouteDispatchTest, AnythingButAnExactMatchWithAHandlerIs404) {
  for (const ControlRequest& request : {Request("POST", "/ping"), Request("GET", "/ping?x=1"), Request("get", "/ping"),
                                        Request("GET", "/PING"), Request("GET", "/ping/"), Request("", ""),
                                        Request("GET", "/later")})
    EXPECT_EQ(Dispatch(kRoutes, request).status, 404) << request.method << " " << request.path;
}

TEST(RouteDispatchTest, StreamRoutesWriteTheirOwnResponseOthersSendOnce) {
  RecordingChannel stream, ping;
  ServeRequest(kRoutes, Request("POST", "/stream", "line"), stream);
  EXPECT_EQ(stream.sends, (std::vector<std::string>{"head", "line"}));
  ServeRequest(kRoutes, Request("GET", "/ping"), ping);
  ASSERT_EQ(ping.sends.size(), 1u);
  EXPECT_TRUE(ping.sends[0].ends_with("\r\n\r\npong")) << ping.sends[0];
}

TEST(RefusalResponseTest, ContentLengthAboveTheBodyLimitOrTheBudgetIs413) {
  EXPECT_EQ(RefusalResponse(RequestState::kBodyTooLarge)->status, 413);
  EXPECT_EQ(RefusalResponse(RequestState::kOverBudget)->status, 413);
}

}  // namespace
}  // namespace pelno
