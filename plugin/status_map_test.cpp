// The status replies read into the channel's map.
#include "plugin/status_map.h"

#include <gtest/gtest.h>

#include "plugin/testing/encodable_maps.h"

namespace pelno {
namespace {

using testing::EncodableValue;
using testing::Map;

TEST(StatusMapTest, RepliesAreReadWithTheirDefaults) {
  EXPECT_EQ(ParseStatusReply(R"({"status":"connected","platform":"x","message":"m\u0009"})", "d", "dm"),
            Map({{"status", EncodableValue("connected")}, {"platform", EncodableValue("windows")}, {"message", EncodableValue("m\t")}}));
  EXPECT_EQ(ParseStatusReply("{}", "disconnected", "dm"), MakeStatusMap("disconnected", "dm"));
  EXPECT_EQ(ParseStatusReply(R"({"status":"","message":"not found"})", "d", "dm"), MakeStatusMap("d", "not found"));
  EXPECT_EQ(StatusOf(MakeStatusMap("connected", "")), "connected");
}

}  // namespace
}  // namespace pelno
