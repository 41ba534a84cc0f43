#include "plugin/json_text_fields.h"

#include <gtest/gtest.h>

#include "plugin/latency_stream.h"
#include "plugin/service_image_path.h"

namespace pelno {
namespace {

TEST(JsonStringFieldTest, ReadsAndDecodesAsTheHelperEscapes) {
  const struct {
    std::string_view text;
    std::string expected;
  } cases[] = {
      {R"({"message":"a\nb"})", "a\nb"},
      {R"({"message":"a\tb\bc\fd\re"})", "a\tb\bc\fd\re"},
      {R"({"message":"tag\u0009x\u001F"})", "tag\tx\x1F"},
      {R"({"message":"\u00e9\u20AC\ud83d\ude00"})", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {R"({"message":"\ud83dx\ude00"})", "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      {R"({"message":"\"q\" \\ \/ \uZZ"})", "\"q\" \\ / uZZ"},
      {R"({"message": "v"})", ""},
      {R"({"message":"unterminated)", ""},
      {R"({"message":"ends with \)", ""},
      {R"({"outer":{"message":"nested"}})", "nested"},
      {"{\"message\":\"caf\xC3\xA9\"}", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonStringField(c.text, "message"), c.expected) << c.text;
}

TEST(JsonIntFieldTest, ReadsSigned32BitNumbers) {
  const struct {
    std::string_view text;
    std::int32_t expected;
  } cases[] = {
      {R"({"delayMs": 42})", 42},   {R"({"delayMs":-7,)", -7},
      {R"({"delayMs":-})", 0},      {R"({"delayMs":-)", 0},
      {R"({"delayMs":null})", 99},  {R"({"delayMs":"5"})", 99},
      {R"({"delayMs":)", 99},       {R"({"other":1})", 99},
      {R"({"delayMs":99999999999})", 2147483647},
      {R"({"delayMs":-99999999999})", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonIntField(c.text, "delayMs", 99), c.expected) << c.text;
}

TEST(LatencyStreamTest, BodyCarriesEveryTextCounted) {
  EXPECT_EQ(BuildUrlTestBody("r1", "http://u/", {"A", "\xC3\xA9"}, "{}"),
            "PELNOVPN_URLTEST_V2\n2\nr1\n9\nhttp://u/\n2\n1\nA\n2\n\xC3\xA9\n2\n{}");
}

TEST(LatencyStreamTest, LinesAreHandedOnOnceWhenTheirLineFeedArrives) {
  std::vector<std::pair<std::string, std::int32_t>> seen;
  LatencyStreamReader reader([&](const std::string& tag, std::int32_t delay) { seen.emplace_back(tag, delay); });
  reader.ConsumeLatencyStream(R"({"nodeTag":"A","del)");
  EXPECT_TRUE(seen.empty());
  reader.ConsumeLatencyStream("ayMs\":12}\n\n{\"note\":1}\n{\"nodeTag\":\"B\"}\r\n{\"nodeTag\":\"A\",\"delayMs\":5}\n");
  reader.ConsumeLatencyStream(R"({"nodeTag":"C","delayMs":3})");
  reader.Finish();
  reader.Finish();
  const std::vector<std::pair<std::string, std::int32_t>> expected = {{"A", 12}, {"B", 0}, {"A", 5}, {"C", 3}};
  EXPECT_EQ(seen, expected);
  const std::map<std::string, std::int32_t> results = {{"A", 5}, {"B", 0}, {"C", 3}};
  EXPECT_EQ(reader.results(), results);
}

TEST(ServiceImagePathTest, ProgramPathIsTakenFromTheBinaryPath) {
  const struct {
    std::wstring_view image;
    std::wstring_view program;
  } cases[] = {
      {LR"(  "C:\A B\h.exe" --x)", LR"(C:\A B\h.exe)"},
      {LR"(C:\A\h.exe --service)", LR"(C:\A\h.exe)"},
      {LR"("C:\A\h.exe --x)", LR"("C:\A\h.exe)"},
      {L"\t\"C:\\h.exe\"", L"\t\"C:\\h.exe\""},
      {L" ab", L"ab"},
      {L"   ", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ServiceBinaryFromImagePath(c.image), c.program);
  EXPECT_EQ(FormatErrorCode(1058), "error 1058");
}

}  // namespace
}  // namespace pelno
