// The helper's texts as the plug-in reads and writes them: field readers, the
// latency test body, status and traffic snapshot maps.
#include "plugin/json_text_fields.h"

#include <gtest/gtest.h>

#include "plugin/latency_stream.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/traffic_snapshot_map.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
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

}  // namespace
}  // namespace pelno
