// The plug-in's portable logic: the helper's texts as it reads and writes them (field
// readers, the latency test body, status and traffic snapshot maps), and over a fake
// transport the latency test, its cancel and the provisioning before a TUN start.
#include "plugin/json_text_fields.h"

#include <gtest/gtest.h>

#include <tuple>

#include "engine/testing/fake_location_platform.h"
#include "plugin/helper_provisioning.h"
#include "plugin/latency_client.h"
#include "plugin/latency_stream.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/traffic_snapshot_map.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Entries;
using testing::FakeHelperTransport;
using testing::Map;

TEST(JsonStringFieldTest, ReadsAndDecodesAsTheHelperEscapes) {
  const std::pair<std::string_view, std::string> cases[] = {
      {R"({"message":"a\nb\tc\bd\fe\rf"})", "a\nb\tc\bd\fe\rf"},
      {R"({"message":"tag\u0009x\u001F"})", "tag\tx\x1F"},
      {R"({"message":"\u00e9\u20AC\ud83d\ude00"})", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {R"({"message":"\ud83dx\ude00"})", "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      // The surrogate ranges' edges: D800-DBFF then DC00-DFFF pair; alone each is U+FFFD.
      {R"({"message":"\ud800\udc00\udbff\udfff"})", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {R"({"message":"\ud7ff\udc00\udfff\ue000"})", "\xED\x9F\xBF\xEF\xBF\xBD\xEF\xBF\xBD\xEE\x80\x80"},
      {R"({"message":"\"q\" \\ \/ \uZZ"})", "\"q\" \\ / uZZ"},
      {R"({"message": "v"})", ""},
      {R"({"message":"unterminated)", ""},
      {R"({"message":"ends with \)", ""},
      {R"({"outer":{"message":"caf)" "\xC3\xA9\"}}", "caf\xC3\xA9"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(JsonStringField(text, "message"), expected) << text;
}

TEST(JsonIntFieldTest, ReadsSigned32BitNumbers) {
  const std::pair<std::string_view, std::int32_t> cases[] = {
      {R"({"delayMs": 42})", 42}, {R"({"delayMs":-7,)", -7},     {R"({"delayMs":-})", 0},
      {R"({"delayMs":-)", 0},     {R"({"delayMs":null})", 99},   {R"({"delayMs":"5"})", 99},
      {R"({"delayMs":)", 99},     {R"({"other":1})", 99},        {R"({"delayMs":99999999999})", 2147483647},
      {R"({"delayMs":-99999999999})", -2147483647 - 1},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(JsonIntField(text, "delayMs", 99), expected) << text;
}

TEST(LatencyStreamTest, BodyCountsEveryText) {
  EXPECT_EQ(BuildUrlTestBody("r1", "http://u/", {"A", "\xC3\xA9"}, "{}"),
            "PELNOVPN_URLTEST_V2\n2\nr1\n9\nhttp://u/\n2\n1\nA\n2\n\xC3\xA9\n2\n{}");
}

EncodableValue Entry(const char* name, std::int64_t total, const char* host) {
  const EncodableValue zero(std::int64_t{0});
  return Map({{"processName", EncodableValue(name)}, {"policy", EncodableValue("")}, {"totalBytes", EncodableValue(total)},
              {"uploadBytesPerSecond", zero}, {"downloadBytesPerSecond", zero}, {"durationSeconds", zero},
              {"status", EncodableValue("")}, {"method", EncodableValue("")}, {"host", EncodableValue(host)}});
}

EncodableValue Snapshot(EncodableList processes) {
  const EncodableValue zero(std::int64_t{0});
  return Map({{"uploadBytesPerSecond", EncodableValue(std::int64_t{5})}, {"downloadBytesPerSecond", zero},
              {"uploadTotalBytes", zero}, {"downloadTotalBytes", EncodableValue(std::int64_t{9000000000})},
              {"processes", EncodableValue(std::move(processes))}});
}

TEST(TrafficSnapshotMapTest, EntriesInOrderWithEveryKeyAndCutEntriesDropped) {
  const std::string head = R"({"uploadBytesPerSecond":5,"downloadTotalBytes":9000000000,"processes":[)";
  const std::string first = R"({"processName":"a \"q\".exe","totalBytes":7,"host":"h{1}"})";
  const std::string second = R"({"processName":"b.exe","extra":{"x":1}})";
  EXPECT_EQ(ParseTrafficSnapshot(head + first + "," + second + "]}"),
            Snapshot({Entry("a \"q\".exe", 7, "h{1}"), Entry("b.exe", 0, "")}));
  EXPECT_EQ(ParseTrafficSnapshot(head + first + R"(,{"processName":"c.exe","tot)"), Snapshot({Entry("a \"q\".exe", 7, "h{1}")}));
  const EncodableValue zero(std::int32_t{0});
  EXPECT_EQ(FallbackTrafficSnapshot(), Map({{"uploadBytesPerSecond", zero}, {"downloadBytesPerSecond", zero},
                                            {"uploadTotalBytes", zero}, {"downloadTotalBytes", zero},
                                            {"processes", EncodableValue(EncodableList{})}}));
}

TEST(StatusMapTest, RepliesAreReadWithTheirDefaults) {
  EXPECT_EQ(ParseStatusReply(R"({"status":"connected","platform":"x","message":"m\u0009"})", "d", "dm"),
            Map({{"status", EncodableValue("connected")}, {"platform", EncodableValue("windows")}, {"message", EncodableValue("m\t")}}));
  EXPECT_EQ(ParseStatusReply("{}", "disconnected", "dm"), MakeStatusMap("disconnected", "dm"));
  EXPECT_EQ(ParseStatusReply(R"({"status":"","message":"not found"})", "d", "dm"), MakeStatusMap("d", "not found"));
  EXPECT_EQ(StatusOf(MakeStatusMap("connected", "")), "connected");
}

flutter::EncodableMap LatencyArguments(EncodableList tags) {
  return Entries(Map({{"requestId", EncodableValue("r")}, {"runtimeConfig", EncodableValue("{}")},
                      {"testUrl", EncodableValue("")}, {"nodeTags", EncodableValue(std::move(tags))}}));
}

// A line split across pieces, a blank line, a line without delay, the last line
// without its line feed: each result goes out as soon as the piece with its line
// feed has been read, before the next piece is.
TEST(LatencyClientTest, ResultsGoOutAsTheirLinesArriveAndTheReplyKeepsTheLast) {
  FakeHelperTransport helper({{"", {{"{\"pad\":\"" + std::string(6000, 'a') + "\"}\n{\"nodeTag\":\"A\",\"de"},
                                     {"layMs\":5}\n\n{\"nodeTag\":\"C\"}\r\n{\"nodeTag\":\"A\",\"delayMs\":7}\n"},
                                     {R"({"nodeTag":"B\u0009","delayMs":1})"}}}});
  const LatencyClient client{helper, [] { return true; }};
  std::vector<std::tuple<std::string, std::int32_t, int>> events;  // tag, delay, pieces read by then
  const EncodableValue reply = RunLatencyTest(
      LatencyArguments({EncodableValue(1), EncodableValue(""), EncodableValue("A"), EncodableValue("B\t")}),
      [&](const std::string& tag, std::int32_t delay) { events.emplace_back(tag, delay, helper.piecesRead()); },
      client);
  const decltype(events) expected = {{"A", 5, 2}, {"C", 0, 2}, {"A", 7, 2}, {"B\t", 1, 3}};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(reply, Map({{"A", EncodableValue(7)}, {"B\t", EncodableValue(1)}, {"C", EncodableValue(0)}}));
  EXPECT_EQ(helper.log(), "POST /urltest " + BuildUrlTestBody("r", kDefaultTestUrl, {"A", "B\t"}, "{}") + ";");
}

TEST(LatencyClientTest, OnlyATestOrCancelWithWhatItNeedsReachesAHelper) {
  FakeHelperTransport helper(FakeHelperTransport::Replies{{"", {}}});
  int ensured = 0;
  bool helperAvailable = true;
  const LatencyClient client{helper, [&] { return ++ensured, helperAvailable; }};
  const EncodableValue tags(EncodableList{EncodableValue("A")}), ignored = Map({{"status", EncodableValue("ignored")}});
  for (const EncodableValue& arguments : {Map({{"nodeTags", tags}}), Map({{"nodeTags", tags}, {"runtimeConfig", EncodableValue(5)}}),
                                          Map({{"nodeTags", EncodableValue("A")}, {"runtimeConfig", EncodableValue("{}")}})})
    EXPECT_EQ(RunLatencyTest(Entries(arguments), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(Entries(Map({{"requestId", EncodableValue(7)}})), client), ignored);
  EXPECT_EQ(ensured + helper.log().size(), 0u);
  const flutter::EncodableMap cancel = Entries(Map({{"requestId", EncodableValue("r\n1")}}));
  EXPECT_EQ(CancelLatencyTest(cancel, client), Map({{"status", EncodableValue("canceled")}}));
  helperAvailable = false;  // none could be started
  EXPECT_EQ(RunLatencyTest(LatencyArguments({EncodableValue("A")}), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(cancel, client), ignored);
  EXPECT_EQ(helper.log(), "POST /cancel-urltest r\n1;");
}

TEST(ProvisioningTest, RefusalsLeadToTheInstallerOrToTheirMessage) {
  const struct {
    std::vector<std::uint32_t> openResults, startResults;
    int installerExitCode;
    bool answersOnceRunning;
    std::string error, calls;  // error empty: ready
    bool answering = false;    // before anything is done
  } cases[] = {
      {{}, {}, 0, true, "", "", true},
      {{0, 5}, {}, 0, true, "", "manager open config manager open runas manager open start "},
      {{}, {5}, 0, true, "", "manager open config manager open start runas manager open start "},
      {{}, {1056}, 0, true, "", "manager open config manager open start "},
      {{1060}, {}, -1, true, "User canceled UAC or helper service install failed", "manager open runas "},
      {{1060}, {}, 1, true, "PelnoVpnHelperService install failed", "manager open runas "},
      {{}, {1058}, 0, true, "Failed to start PelnoVpnHelperService: error 1058", "manager open config manager open start "},
      {{}, {}, 0, false, "Windows helper service started but did not become ready", "manager open config manager open start "},
  };
  for (const auto& c : cases) {
    testing::FakeLocationPlatform locations;
    locations.AddEntry(L"C:\\Apps\\Client\\PelnoVpnHelperService.exe");
    FakeHelperTransport helper(c.answering ? FakeHelperTransport::Replies{{"", {{"pong"}}}} : FakeHelperTransport::Replies{});
    testing::FakeProvisioningPlatform fake;
    fake.helper = &helper;
    fake.openResults = c.openResults;
    fake.startResults = c.startResults;
    fake.installerExitCode = c.installerExitCode;
    fake.answersOnceRunning = c.answersOnceRunning;
    fake.binaryPath = L"C:\\Apps\\Client\\PelnoVpnHelperService.exe --x";  // this program file, unquoted
    std::string error;
    EXPECT_EQ(EnsureHelperReady(error, {fake, locations, helper}), c.error.empty()) << c.calls;
    if (!c.error.empty()) { EXPECT_EQ(error, c.error); }
    EXPECT_EQ(fake.calls, c.calls);
  }
}

}  // namespace
}  // namespace pelno
