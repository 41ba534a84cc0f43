#include "helper/status_reply.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace pelno {
namespace {

TEST(StatusReplyTest, StopReplyIsExactAndCompact) {
  EXPECT_EQ(MakeStatusReply("disconnected", "Windows helper disconnected"),
            R"({"status":"disconnected","platform":"windows","message":"Windows helper disconnected"})");
}

// Whatever an engine prints comes back whole through a reply that parses: quotes,
// backslashes and control bytes escaped, everything else as it came.
TEST(StatusReplyTest, ReplyWithAnyMessageIsValidJson) {
  std::string message = "\"\\ \x7f\xc3\xa9/";
  for (char byte = 0; byte < 0x20; ++byte) message += byte;
  const auto reply = nlohmann::json::parse(MakeStatusReply(kStatusDisconnected, message), nullptr,
                                           /*allow_exceptions=*/false);
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply.value("message", ""), message);
}

}  // namespace
}  // namespace pelno
