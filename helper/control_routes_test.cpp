#include "helper/control_routes.h"

#include <gtest/gtest.h>

#include <string>

#include "helper/log_journal.h"

namespace pelno {
namespace {

ControlRequest Request(std::string method, std::string path) {
  return {std::move(method), std::move(path), "", ""};
}

TEST(ControlRoutesTest, TableHoldsTheNineEndpointsInMatchingOrder) {
  const RouteTable& routes = ControlRoutes();
  const std::vector<std::tuple<std::string, std::string, std::string>> expected = {
      {"GET", "/ping", "text/plain"},
      {"GET", "/status", "application/json"},
      {"GET", "/traffic-snapshot", "application/json"},
      {"POST", "/start", "application/json"},
      {"POST", "/start-tun", "application/json"},
      {"POST", "/stop", "application/json"},
      {"POST", "/urltest", "application/x-ndjson"},
      {"POST", "/cancel-urltest", "application/json"},
      {"GET", "/logs", "text/plain"},
  };
  ASSERT_EQ(routes.size(), expected.size());
  for (std::size_t i = 0; i < routes.size(); ++i) {
    EXPECT_EQ(std::make_tuple(std::string(routes[i].method), std::string(routes[i].path),
                              std::string(routes[i].contentType)),
              expected[i])
        << "row " << i;
  }
}

TEST(ControlRoutesTest, LogsAnswersTheWholeJournalAsPlainText) {
  AppendLog("control routes test marker");
  const HttpResponse logs = Dispatch(ControlRoutes(), Request("GET", "/logs"));
  EXPECT_EQ(logs.status, 200);
  EXPECT_EQ(logs.contentType, "text/plain");
  EXPECT_EQ(logs.body, ReadLogJournal());
  EXPECT_NE(logs.body.find("] control routes test marker\r\n"), std::string::npos);
}

}  // namespace
}  // namespace pelno
