// The helper's traffic snapshot read into the channel's map.
#include "plugin/traffic_snapshot_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "plugin/testing/encodable_maps.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Map;

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

}  // namespace
}  // namespace pelno
