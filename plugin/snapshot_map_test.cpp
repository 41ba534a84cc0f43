#include <gtest/gtest.h>

#include "plugin/status_map.h"
#include "plugin/traffic_snapshot_map.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

EncodableValue Entry(const char* name, std::int64_t total, const char* host) {
  return EncodableValue(EncodableMap{
      {EncodableValue("processName"), EncodableValue(name)}, {EncodableValue("policy"), EncodableValue("")},
      {EncodableValue("totalBytes"), EncodableValue(total)},
      {EncodableValue("uploadBytesPerSecond"), EncodableValue(std::int64_t{0})},
      {EncodableValue("downloadBytesPerSecond"), EncodableValue(std::int64_t{0})},
      {EncodableValue("durationSeconds"), EncodableValue(std::int64_t{0})},
      {EncodableValue("status"), EncodableValue("")}, {EncodableValue("method"), EncodableValue("")},
      {EncodableValue("host"), EncodableValue(host)}});
}

EncodableValue Snapshot(std::int64_t up, EncodableList processes) {
  return EncodableValue(EncodableMap{
      {EncodableValue("uploadBytesPerSecond"), EncodableValue(up)},
      {EncodableValue("downloadBytesPerSecond"), EncodableValue(std::int64_t{0})},
      {EncodableValue("uploadTotalBytes"), EncodableValue(std::int64_t{0})},
      {EncodableValue("downloadTotalBytes"), EncodableValue(std::int64_t{9000000000})},
      {EncodableValue("processes"), EncodableValue(std::move(processes))}});
}

TEST(TrafficSnapshotMapTest, EntriesInOrderWithEveryKeyAndCutEntriesDropped) {
  const std::string head = R"({"uploadBytesPerSecond":5,"downloadTotalBytes":9000000000,"processes":[)";
  const std::string first = R"({"processName":"a \"q\".exe","totalBytes":7,"host":"h{1}"})";
  const std::string second = R"({"processName":"b.exe","extra":{"x":1}})";
  EXPECT_EQ(ParseTrafficSnapshot(head + first + "," + second + "]}"),
            Snapshot(5, {Entry("a \"q\".exe", 7, "h{1}"), Entry("b.exe", 0, "")}));
  EXPECT_EQ(ParseTrafficSnapshot(head + first + R"(,{"processName":"c.exe","tot)"),
            Snapshot(5, {Entry("a \"q\".exe", 7, "h{1}")}));
  const EncodableMap fallback = std::get<EncodableMap>(FallbackTrafficSnapshot());
  EXPECT_EQ(fallback.at(EncodableValue("uploadTotalBytes")), EncodableValue(std::int32_t{0}));
  EXPECT_EQ(fallback.at(EncodableValue("processes")), EncodableValue(EncodableList{}));
}

TEST(StatusMapTest, RepliesAreReadWithTheirDefaults) {
  const auto map = [](const char* status, const char* message) { return MakeStatusMap(status, message); };
  EXPECT_EQ(ParseStatusReply(R"({"status":"connected","platform":"x","message":"m\u0009"})", "d", "dm"),
            map("connected", "m\t"));
  EXPECT_EQ(ParseStatusReply("{}", "disconnected", "dm"), map("disconnected", "dm"));
  EXPECT_EQ(ParseStatusReply(R"({"status":"","message":"not found"})", "d", "dm"), map("d", "not found"));
  EXPECT_EQ(StatusOf(map("connected", "")), "connected");
}

}  // namespace
}  // namespace pelno
