#include "helper/status_reply.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(StatusReplyTest, StopReplyIsExactAndCompact) {
  std::string reply = MakeStatusReply("disconnected", "Windows helper disconnected");
  EXPECT_EQ(reply,
            "{\"status\":\"disconnected\",\"platform\":\"windows\",\"message\":\"Windows helper "
            "disconnected\"}");
  EXPECT_EQ(reply.size(), 86u);
}

TEST(StatusReplyTest, EscapesQuoteBackslashCarriageReturnAndLineFeedOnly) {
  EXPECT_EQ(EscapeJsonString("a\"b\\c\rd\ne\tf\x01g\xc3\xa9"),
            "a\\\"b\\\\c\\rd\\ne\tf\x01g\xc3\xa9");
}

TEST(StatusReplyTest, MessageIsEscapedInsideTheReply) {
  EXPECT_EQ(MakeStatusReply("disconnected", "x \"y\"\r\n"),
            "{\"status\":\"disconnected\",\"platform\":\"windows\",\"message\":\"x "
            "\\\"y\\\"\\r\\n\"}");
}

}  // namespace
}  // namespace pelno
