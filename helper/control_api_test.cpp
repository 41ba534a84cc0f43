// The control API's route table over a session with a fake engine runtime, a fake
// traffic source and a fake URL-test system, served as the control server serves it.
#include "helper/control_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "helper/helper_session_controller.h"
#include "engine/testing/fake_session_runtime.h"
#include "server/log_journal.h"
#include "traffic/traffic_snapshot.h"
#include "urltest/url_test_registry.h"
#include "urltest/url_test_stream.h"

namespace pelno {
namespace {

// Every node measures 7 ms; nothing is written.
struct FakeUrlTests : UrlTestPlatform {
  bool CreateDataDirectory() override { return true; }
  std::wstring MakeConfigPath() override { return L"run.json"; }
  bool WriteConfig(const std::wstring&, std::string_view, std::string&) override { return true; }
  void DeleteConfig(const std::wstring&) override {}
  bool MeasureNode(const std::wstring&, UrlTestRegistry::RunId, const std::string&, const std::string&,
                   NodeMeasurement& m) override {
    return (m.delayMs = 7);
  }
  std::thread StartWorker(std::function<void()> work) override { return std::thread(std::move(work)); }
};

struct Recorder : ResponseChannel {
  bool Send(std::string_view bytes) override { return (sent += bytes, true); }
  std::string sent;
};

struct ControlApiTest : ::testing::Test {
  // The whole response to one request, with the runtime calls it made in `calls`.
  std::string Serve(const std::string& method, const std::string& path, const std::string& body = "") {
    runtime.calls.clear();
    Recorder channel;
    ServeRequest(routes, ControlRequest{method, path, "", body}, channel);
    calls.clear();
    for (const std::string& call : runtime.calls) calls += call + " ";
    return channel.sent;
  }

  testing::FakeSessionRuntime runtime;
  HelperSessionController session{runtime};
  LogJournal journal;
  FakeUrlTests urlTests;
  UrlTestRegistry registry{[](UrlTestRegistry::ProcessRef) {}};
  const RouteTable routes = MakeControlApiRoutes(
      {session, journal, [] { return std::string("{\"snapshot\":1}"); }, urlTests, registry});
  std::string calls;
};

std::string Head(std::string_view contentType) {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(contentType) + "\r\n";
}

TEST_F(ControlApiTest, EveryRouteIsAnsweredByItsHandlerAndOtherRequestsAreNotFound) {
  const std::string kUrlTest = "PELNOVPN_URLTEST_V2\n2\nr1\n1\nu\n1\n1\nA\n2\n{}";
  const struct {
    const char *method, *path;
    std::string body;
    bool engineRunning;
    std::string_view contentType;
    std::string replyPart, calls;
  } cases[] = {
      {"GET", "/ping", "", false, kTextPlain, "\r\n\r\npong", ""},
      {"GET", "/status", "", false, kApplicationJson, "Windows helper idle", ""},
      {"GET", "/traffic-snapshot", "", false, kApplicationJson, "\r\n\r\n" + std::string(kEmptyTrafficSnapshot), ""},
      {"GET", "/traffic-snapshot", "", true, kApplicationJson, "\r\n\r\n{\"snapshot\":1}", ""},
      {"POST", "/start", "{}", false, kApplicationJson, "\"connected\"", "restore stop write start enable "},
      {"POST", "/start-tun", "{}", false, kApplicationJson, "\"connected\"", "restore stop write start "},
      {"POST", "/stop", "", true, kApplicationJson, "Windows helper disconnected", "restore stop "},
      {"POST", "/cancel-urltest", "r1", false, kApplicationJson, "\r\n\r\n{\"status\":\"canceled\"}", ""},
      {"GET", "/logs", "", false, kTextPlain, "URLTest cancel requested: r1", ""},
  };
  for (const auto& c : cases) {
    runtime.engineRunning = c.engineRunning;
    const std::string reply = Serve(c.method, c.path, c.body);
    EXPECT_EQ(reply.rfind(Head(c.contentType), 0), 0u) << c.path << "\n" << reply;
    EXPECT_NE(reply.find(c.replyPart), std::string::npos) << c.path << "\n" << reply;
    EXPECT_EQ(calls, c.calls) << c.path;
  }
  // The stream writes its own close-delimited response.
  EXPECT_EQ(Serve("POST", "/urltest", kUrlTest),
            "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n"
            "{\"nodeTag\":\"A\",\"delayMs\":7}\n");

  // Every row of the table was asked above; with the other method it is not found,
  // like paths the table does not know, and no handler runs.
  const auto notFound = [this](const std::string& method, const std::string& path) {
    return Serve(method, path).rfind("HTTP/1.1 404 ", 0) == 0 && calls.empty();
  };
  for (const ControlRoute& route : routes) {
    const bool asked = (route.method == "POST" && route.path == "/urltest") ||
                       std::any_of(std::begin(cases), std::end(cases), [&](const auto& c) {
                         return route.method == c.method && route.path == c.path;
                       });
    EXPECT_TRUE(asked) << route.path;
    EXPECT_TRUE(notFound(route.method == "GET" ? "POST" : "GET", std::string(route.path))) << route.path;
  }
  for (const char* path : {"/", "/PING", "/ping/", "/ping?x", "/nope"}) EXPECT_TRUE(notFound("GET", path)) << path;
}

}  // namespace
}  // namespace pelno
