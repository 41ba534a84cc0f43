#include "helper/status_reply.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "engine/output_summary.h"

namespace pelno {
namespace {

TEST(StatusReplyTest, StopReplyIsExactAndCompact) {
  EXPECT_EQ(MakeStatusReply("disconnected", "Windows helper disconnected"),
            R"({"status":"disconnected","platform":"windows","message":"Windows helper disconnected"})");
}

TEST(StatusReplyTest, EscapesEveryByteJsonForbidsInAString) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"a\"b\\c", R"(a\"b\\c)"},
      {"\r\n", R"(\r\n)"},
      {std::string("\0\a\t\x1b\x1f", 5), R"(\u0000\u0007\u0009\u001B\u001F)"},
      {" \x7f\xc3\xa9/", " \x7f\xc3\xa9/"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeJsonString(c.text), c.escaped) << c.escaped;
}

// What an engine may print before it dies comes back whole through the reply,
// cut before the euro sign that would straddle the limit.
TEST(StatusReplyTest, ReplyWithHostileEngineOutputIsValidJson) {
  using namespace std::string_literals;
  const std::string kept = "FATAL \"bad\\path\"\a\0 end "s;  // 24 bytes
  const std::string output = "\x1b[31mFATAL\x1b[0m \"bad\\path\"\a\0\tend\r\n"s +
                             std::string(875, 'x') + "\xE2\x82\xAC tail";
  const std::string message = "sing-box.exe exited immediately: " +
                              SummarizeOutput(output, kEngineOutputSummaryLimit);
  const auto reply = nlohmann::json::parse(MakeStatusReply(kStatusDisconnected, message), nullptr,
                                           /*allow_exceptions=*/false);
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply.value("status", ""), "disconnected");
  EXPECT_EQ(reply.value("message", ""),
            "sing-box.exe exited immediately: " + kept + std::string(875, 'x') + "...");
}

}  // namespace
}  // namespace pelno
