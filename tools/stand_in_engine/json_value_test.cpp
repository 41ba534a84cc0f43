#include "tools/stand_in_engine/json_value.h"

#include <gtest/gtest.h>

#include <random>

namespace pelno {
namespace {

JsonValue MustParse(std::string_view text) {
  JsonValue v;
  std::string error;
  EXPECT_TRUE(ParseJson(text, v, error)) << text << ": " << error;
  return v;
}

bool Fails(std::string_view text) {
  JsonValue v;
  std::string error;
  bool ok = ParseJson(text, v, error);
  if (!ok) {
    EXPECT_NE(error.find("offset"), std::string::npos) << error;
  }
  return !ok;
}

TEST(JsonValueTest, ReadsNestedDocument) {
  JsonValue v = MustParse(
      " {\"a\": [1, -2.5, true, false, null, \"x\"], \"b\": {\"c\": {}}, \"d\": []}\r\n\t");
  ASSERT_TRUE(v.IsObject());
  const JsonValue* a = v.Find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->Items().size(), 6u);
  EXPECT_EQ(a->Items()[0].AsInt64(), 1);
  EXPECT_DOUBLE_EQ(a->Items()[1].AsDouble(), -2.5);
  EXPECT_FALSE(a->Items()[1].AsInt64().has_value());
  EXPECT_TRUE(a->Items()[2].IsBool() && a->Items()[2].AsBool());
  EXPECT_TRUE(a->Items()[3].IsBool() && !a->Items()[3].AsBool());
  EXPECT_TRUE(a->Items()[4].IsNull());
  EXPECT_EQ(a->Items()[5].AsString(), "x");
  ASSERT_NE(v.Find("b"), nullptr);
  EXPECT_TRUE(v.Find("b")->Find("c")->IsObject());
  EXPECT_TRUE(v.Find("d")->IsArray());
  EXPECT_EQ(v.Find("missing"), nullptr);
}

TEST(JsonValueTest, LaterDuplicateKeyWins) {
  JsonValue v = MustParse("{\"k\":1,\"k\":2}");
  EXPECT_EQ(v.Find("k")->AsInt64(), 2);
  EXPECT_EQ(v.Members().size(), 2u);
}

TEST(JsonValueTest, DecodesEscapes) {
  EXPECT_EQ(MustParse(R"("\"\\\/\b\f\n\r\t")").AsString(), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(MustParse(R"("\u0041\u00e9\u20AC")").AsString(), "A\xC3\xA9\xE2\x82\xAC");
  // A surrogate pair becomes one four-byte sequence (U+1F600).
  EXPECT_EQ(MustParse(R"("\ud83d\ude00")").AsString(), "\xF0\x9F\x98\x80");
  // Unpaired surrogates become U+FFFD; the character after them is kept.
  EXPECT_EQ(MustParse(R"("\ud83dx")").AsString(), "\xEF\xBF\xBDx");
  EXPECT_EQ(MustParse(R"("\ude00")").AsString(), "\xEF\xBF\xBD");
  EXPECT_EQ(MustParse(R"("\ud83d\u0041")").AsString(),
            "\xEF\xBF\xBD"
            "A");
  EXPECT_EQ(MustParse(R"("\u0000")").AsString(), std::string(1, '\0'));
  // Raw UTF-8 passes through untouched.
  EXPECT_EQ(MustParse("\"C:\\\\dir \xC3\xA9\"").AsString(), "C:\\dir \xC3\xA9");
}

TEST(JsonValueTest, RejectsBadStrings) {
  EXPECT_TRUE(Fails(R"("abc)"));
  EXPECT_TRUE(Fails(R"("\x")"));
  EXPECT_TRUE(Fails(R"("\u12")"));
  EXPECT_TRUE(Fails(R"("\u12g4")"));
  EXPECT_TRUE(Fails(R"("\ud83d\u12")"));
  EXPECT_TRUE(Fails("\"a\nb\""));
  EXPECT_TRUE(Fails("\"\\"));
  EXPECT_TRUE(Fails("'single'"));
}

TEST(JsonValueTest, ReadsNumbersExactlyWhenIntegral) {
  EXPECT_EQ(MustParse("0").AsInt64(), 0);
  EXPECT_EQ(MustParse("-0").AsInt64(), 0);
  EXPECT_EQ(MustParse("9223372036854775807").AsInt64(), INT64_MAX);
  EXPECT_EQ(MustParse("-9223372036854775808").AsInt64(), INT64_MIN);
  JsonValue big = MustParse("9223372036854775808");
  EXPECT_FALSE(big.AsInt64().has_value());
  EXPECT_DOUBLE_EQ(big.AsDouble(), 9223372036854775808.0);
  EXPECT_FALSE(MustParse("1e3").AsInt64().has_value());
  EXPECT_DOUBLE_EQ(MustParse("1E+3").AsDouble(), 1000.0);
  EXPECT_DOUBLE_EQ(MustParse("2.5e-1").AsDouble(), 0.25);
  EXPECT_FALSE(MustParse("1.0").AsInt64().has_value());
}

TEST(JsonValueTest, RejectsBadNumbers) {
  for (const char* bad : {"01", "1.", "-", "+1", ".5", "1e", "1e+", "--1", "0x10", "NaN",
                          "Infinity", "-Infinity", "1.e3"}) {
    EXPECT_TRUE(Fails(bad)) << bad;
  }
}

TEST(JsonValueTest, RejectsWhatStrictJsonDoes) {
  for (const char* bad :
       {"",          " ",     "{",   "}",   "[1,]",  "{\"a\":1,}", "{\"a\" 1}", "{a:1}",
        "[1 2]",     "{} {}", "1 x", "tru", "nulll", "// c\n{}",   "/* c */{}", "\xEF\xBB\xBF{}",
        "{\"a\":1]", "[1}",   "{,}", "[,1]"}) {
    EXPECT_TRUE(Fails(bad)) << bad;
  }
}

TEST(JsonValueTest, DepthLimitStopsDeepNesting) {
  std::string ok = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
  EXPECT_TRUE(MustParse(ok).IsArray());
  std::string too_deep = std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']');
  EXPECT_TRUE(Fails(too_deep));
  // Far deeper than the stack would take with unbounded recursion.
  EXPECT_TRUE(Fails(std::string(1000000, '[')));
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_TRUE(Fails(objects));
}

TEST(JsonValueTest, EveryProperPrefixOfAnObjectFails) {
  const std::string doc =
      R"({"inbounds":[{"tag":"pelno-vpn-mixed","listen_port":7897}],"s":"\u00e9\n","n":-1.5e2,"t":true})";
  MustParse(doc);
  for (size_t n = 0; n < doc.size(); ++n) EXPECT_TRUE(Fails(doc.substr(0, n))) << n;
}

TEST(JsonValueTest, FailedParseLeavesValueUntouched) {
  JsonValue v = JsonValue::String("keep");
  std::string error;
  EXPECT_FALSE(ParseJson("[1,", v, error));
  EXPECT_EQ(v.AsString(), "keep");
  EXPECT_EQ(error, "unexpected end of input at offset 3");
}

// Random bytes and random mutations of a valid document must only ever produce
// a clean result or a clean error (run under AddressSanitizer in the host build).
TEST(JsonValueTest, SurvivesRandomInput) {
  std::mt19937 random(12345);
  const std::string seed =
      R"({"a":[1,2,{"b":"c\u00e9\ud83d\ude00"}],"d":-1.5e10,"e":[true,false,null],"f":{"g":""}})";
  const std::string alphabet = "{}[]\":,\\u0123456789abcdefe+-. \n\ttruefalsenull\x01\xff";
  int parsed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    if (round % 2 == 0) {
      size_t length = random() % 64;
      for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    } else {
      text = seed;
      int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits; ++e) {
        size_t at = random() % text.size();
        switch (random() % 3) {
          case 0:
            text[at] = static_cast<char>(random() % 256);
            break;
          case 1:
            text.erase(at, 1 + random() % 3);
            break;
          default:
            text.insert(at, 1, alphabet[random() % alphabet.size()]);
            break;
        }
        if (text.empty()) text = "x";
      }
    }
    JsonValue v;
    std::string error;
    if (ParseJson(text, v, error)) {
      ++parsed;
      EXPECT_TRUE(error.empty());
    } else {
      EXPECT_NE(error.find(" at offset "), std::string::npos);
    }
  }
  // Some mutations keep the document valid (e.g. a changed digit).
  EXPECT_GT(parsed, 0);
}

TEST(JsonValueTest, WrittenStringsReadBackUnchanged) {
  const std::string original = std::string("q\"b\\s/ \n\r\t\x01\x1f\x7f \xC3\xA9 ") + '\0' + "end";
  std::string literal;
  AppendJsonString(literal, original);
  EXPECT_EQ(literal.find('\n'), std::string::npos);
  EXPECT_EQ(literal.find('\0'), std::string::npos);
  EXPECT_EQ(MustParse(literal).AsString(), original);
}

}  // namespace
}  // namespace pelno
