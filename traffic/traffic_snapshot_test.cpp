#include "traffic/traffic_snapshot.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(TrafficSnapshotTest, WritesTheMembersInOrderWithoutWhiteSpace) {
  EXPECT_EQ(kEmptyTrafficSnapshot.size(), 112u);
  EXPECT_EQ(FormatTrafficSnapshot(0, 0, 0, 0, ""), kEmptyTrafficSnapshot);
  EXPECT_EQ(FormatTrafficSnapshot(-5, 2048, 9223372036854775807, 0, "{\"a\":1},{\"b\":2}"),
            "{\"uploadBytesPerSecond\":-5,\"downloadBytesPerSecond\":2048,"
            "\"uploadTotalBytes\":9223372036854775807,\"downloadTotalBytes\":0,"
            "\"processes\":[{\"a\":1},{\"b\":2}]}");
}

}  // namespace
}  // namespace pelno
