#include "tools/stand_in_engine/json_value.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pelno {
namespace {

// Random bytes, random mutations of a valid document and deep nesting must only
// ever produce a clean result or a clean error (run under AddressSanitizer in the
// host build).
TEST(JsonValueTest, SurvivesGarbageAndDeepNesting) {
  std::mt19937 random(12345);
  const std::string seed =
      R"({"a":[1,2,{"b":"c\u00e9\ud83d\ude00"}],"d":-1.5e10,"e":[true,false,null],"f":{"g":""}})";
  const std::string alphabet = "{}[]\":,\\u0123456789abcdefe+-. \n\ttruefalsenull\x01\xff";
  std::vector<std::string> inputs = {std::string(1000000, '['), std::string(kMaxJsonDepth + 1, '[')};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    if (round % 2 == 0) {
      size_t length = random() % 64;
      for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    } else {
      text = seed;
      size_t at = random() % text.size();
      if (random() % 2 == 0) {
        text[at] = static_cast<char>(random() % 256);
      } else {
        text.erase(at, 1 + random() % 3);
      }
    }
    inputs.push_back(std::move(text));
  }
  int parsed = 0;
  for (const std::string& text : inputs) {
    JsonValue v;
    std::string error;
    if (ParseJson(text, v, error)) {
      ++parsed;
      EXPECT_TRUE(error.empty());
    } else {
      EXPECT_NE(error.find(" at offset "), std::string::npos) << error;
    }
  }
  // Some mutations keep the document valid (e.g. a changed digit).
  EXPECT_GT(parsed, 0);
}

}  // namespace
}  // namespace pelno
