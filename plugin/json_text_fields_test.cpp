// The field readers over the helper's JSON texts, as the helper escapes them.
#include "plugin/json_text_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace pelno {
namespace {

TEST(JsonStringFieldTest, ReadsAndDecodesAsTheHelperEscapes) {
  const std::pair<std::string_view, std::string> cases[] = {
      {R"({"message":"a\nb\tc\bd\fe\rf"})", "a\nb\tc\bd\fe\rf"},
      {R"({"message":"tag\u0009x\u001F"})", "tag\tx\x1F"},
      {R"({"message":"\u00e9\u20AC\ud83d\ude00"})", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {R"({"message":"\ud83dx\ude00"})", "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      // The surrogate ranges' edges: D800-DBFF then DC00-DFFF pair; alone each is U+FFFD.
      {R"({"message":"\ud800\udc00\udbff\udfff"})", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
      {R"({"message":"\ud7ff\udc00\udfff\ue000"})", "\xED\x9F\xBF\xEF\xBF\xBD\xEF\xBF\xBD\xEE\x80\x80"},
      {R"({"message":"\"q\" \\ \/ \uZZ"})", "\"q\" \\ / uZZ"}, {R"({"message": "v"})", ""},
      {R"({"message":"unterminated)", ""}, {R"({"message":"ends with \)", ""},
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

}  // namespace
}  // namespace pelno
