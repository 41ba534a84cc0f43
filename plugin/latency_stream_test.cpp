// The latency test's request body.
#include "plugin/latency_stream.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(LatencyStreamTest, BodyCountsEveryText) {
  EXPECT_EQ(BuildUrlTestBody("r1", "http://u/", {"A", "\xC3\xA9"}, "{}"),
            "PELNOVPN_URLTEST_V2\n2\nr1\n9\nhttp://u/\n2\n1\nA\n2\n\xC3\xA9\n2\n{}");
}

}  // namespace
}  // namespace pelno
