// The helper client, the traffic and latency clients over WinINet: against the real
// helper program and a scripted control port.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "engine/testing/fake_proxy_settings_platform.h"
#include "plugin/helper_client.h"
#include "plugin/helper_provisioning.h"
#include "plugin/latency_client.h"
#include "plugin/latency_stream.h"
#include "plugin/status_map.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/testing/scripted_helper.h"
#include "plugin/traffic_client.h"
#include "plugin/traffic_snapshot_map.h"
#include "plugin/vpn_controller.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using testing::ScriptedHelper;

TEST(HelperClientTest, NothingListeningAnswersNoAtOnce) {
  const ULONGLONG start = ::GetTickCount64();
  std::string status;
  EncodableValue map;
  EXPECT_FALSE(QueryHelperStatus(status));
  EXPECT_FALSE(StopHelperSession(map));
  EXPECT_FALSE(HelperAnswersPing());
  EXPECT_EQ(GetTrafficSnapshot(false), FallbackTrafficSnapshot());
  EXPECT_LT(::GetTickCount64() - start, 3000u);
}

// One real helper for every fact that needs it (under Wine a plain start costs ~10 s):
// started hidden by a cancel, asked, then ended by the controller's clean-up.
TEST(HelperClientTest, RealHelperStartedForLatencyAnswersAndIsEndedByTheCleanUp) {
  testing::ProgramFolder program;
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
  VpnController controller({program.locations, proxy, provisioning, 300});
  const EncodableMap cancel{{EncodableValue("requestId"), EncodableValue("r1")}};
  EXPECT_EQ(CancelLatencyTest(cancel, controller.LatencyClientFor(nullptr)),
            EncodableValue(EncodableMap{{EncodableValue("status"), EncodableValue("canceled")}}));
  ASSERT_TRUE(controller.launchedHelper().Holds());

  std::string status;
  EXPECT_TRUE(QueryHelperStatus(status));
  EXPECT_EQ(status, "disconnected");
  EncodableValue map;
  EXPECT_TRUE(StopHelperSession(map));
  EXPECT_EQ(map, MakeStatusMap("disconnected", "Windows helper disconnected"));

  // A helper already answering takes the TUN start: no service manager, no prompt;
  // a body beyond 4096 bytes arrives whole (the helper writes it before it looks for
  // the engine).
  const std::string config = "{\"pad\":\"" + std::string(10000, 'x') + "\"}";
  std::string error;
  ASSERT_TRUE(StartHelperTun(config, map, error, {provisioning, program.locations}));
  EXPECT_TRUE(provisioning.calls.empty());
  EXPECT_EQ(StatusOf(map), "disconnected");
  PWSTR roaming = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming), S_OK);
  const std::wstring written = std::wstring(roaming) + L"\\PelnoVPN\\sing-box.json";
  ::CoTaskMemFree(roaming);
  EXPECT_EQ(testing::ReadFileBytes(written), config);

  controller.CleanUp();
  EXPECT_FALSE(controller.launchedHelper().Holds());
  EXPECT_FALSE(HelperAnswersPing());
}

TEST(HelperClientTest, ReplyPiecesArriveAsWrittenNotWhenTheStreamEnds) {
  const std::string big(6000, 'a');
  ScriptedHelper helper([&](const ScriptedHelper::Request&) -> std::vector<ScriptedHelper::Piece> {
    return {{ScriptedHelper::Reply(big)}, {"line\n", 400}, {"end", 400}};
  });
  std::string reply;
  std::vector<ULONGLONG> arrivals;
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_TRUE(HelperRequest(L"GET", L"/x", {}, [&](std::string_view chunk) {
    reply += chunk;
    arrivals.push_back(::GetTickCount64() - start);
    return true;
  }));
  EXPECT_EQ(reply, big + "line\nend");
  ASSERT_GE(arrivals.size(), 3u);
  EXPECT_LT(arrivals[1], 300u);  // the 6000 bytes came in pieces before the pause
  EXPECT_GE(arrivals.back() - arrivals.front(), 700u);
}

TEST(LatencyClientTest, ResultsGoOutAsTheirLinesArriveAndTheReplyKeepsTheLast) {
  ScriptedHelper helper([](const ScriptedHelper::Request& request) -> std::vector<ScriptedHelper::Piece> {
    if (request.path == "/ping") return {{ScriptedHelper::Reply("pong")}};
    return {{ScriptedHelper::Reply(R"({"nodeTag":"A","de)")},
            {"layMs\":5}\n{\"nodeTag\":\"A\",\"delayMs\":7}\n", 50},
            {R"({"nodeTag":"B\u0009","delayMs":1})", 600}};
  });
  LaunchedHelperSlot slot;
  const EncodableMap arguments{
      {EncodableValue("requestId"), EncodableValue("r")},
      {EncodableValue("runtimeConfig"), EncodableValue("{}")},
      {EncodableValue("testUrl"), EncodableValue("")},
      {EncodableValue("nodeTags"), EncodableValue(EncodableList{EncodableValue(1), EncodableValue(""),
                                                                EncodableValue("A"), EncodableValue("B\t")})}};
  std::vector<std::pair<std::string, std::int32_t>> events;
  ULONGLONG secondEventAt = 0;
  const EncodableValue reply = RunLatencyTest(arguments, [&](const std::string& tag, std::int32_t delay) {
    events.emplace_back(tag, delay);
    if (events.size() == 2) secondEventAt = ::GetTickCount64();
  }, LatencyClient{slot});
  EXPECT_GE(::GetTickCount64() - secondEventAt, 400u);  // long before the stream ended
  const std::vector<std::pair<std::string, std::int32_t>> expected = {{"A", 5}, {"A", 7}, {"B\t", 1}};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(reply, EncodableValue(EncodableMap{{EncodableValue("A"), EncodableValue(7)},
                                               {EncodableValue("B\t"), EncodableValue(1)}}));
  ASSERT_EQ(helper.requests().size(), 2u);
  EXPECT_EQ(helper.requests()[1].body, BuildUrlTestBody("r", kDefaultTestUrl, {"A", "B\t"}, "{}"));
  EXPECT_FALSE(slot.Holds());
}

TEST(LatencyClientTest, NothingToTestOrCancelContactsNoHelper) {
  ScriptedHelper helper([](const ScriptedHelper::Request&) -> std::vector<ScriptedHelper::Piece> {
    return {{ScriptedHelper::Reply("pong")}};
  });
  testing::ProgramFolder program;
  LaunchedHelperSlot slot;
  const LatencyClient client{slot, program.locations};
  const EncodableValue tags(EncodableList{EncodableValue("A")});
  for (const EncodableMap& arguments : {
           EncodableMap{{EncodableValue("nodeTags"), tags}},
           EncodableMap{{EncodableValue("nodeTags"), tags}, {EncodableValue("runtimeConfig"), EncodableValue(5)}},
           EncodableMap{{EncodableValue("nodeTags"), EncodableValue("A")}, {EncodableValue("runtimeConfig"), EncodableValue("{}")}}}) {
    EXPECT_EQ(RunLatencyTest(arguments, nullptr, client), EncodableValue(EncodableMap{}));
  }
  EXPECT_EQ(CancelLatencyTest({{EncodableValue("requestId"), EncodableValue(7)}}, client),
            EncodableValue(EncodableMap{{EncodableValue("status"), EncodableValue("ignored")}}));
  EXPECT_TRUE(helper.requests().empty());
  EXPECT_FALSE(slot.Holds());
}

}  // namespace
}  // namespace pelno
