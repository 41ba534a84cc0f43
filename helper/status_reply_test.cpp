#include "helper/status_reply.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(StatusReplyTest, StopReplyIsExactAndCompact) {
  EXPECT_EQ(MakeStatusReply("disconnected", "Windows helper disconnected"),
            R"({"status":"disconnected","platform":"windows","message":"Windows helper disconnected"})");
  // Both texts are escaped (the escaping itself is tested with EscapeJsonString).
  EXPECT_EQ(MakeStatusReply("a\"", "b\\\n"), R"({"status":"a\"","platform":"windows","message":"b\\\n"})");
}

}  // namespace
}  // namespace pelno
