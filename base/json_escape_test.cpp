#include "base/json_escape.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace pelno {
namespace {

// Whatever an engine prints comes back whole through a JSON string that parses:
// quotes, backslashes and control bytes escaped, everything else as it came.
TEST(JsonEscapeTest, AnyTextParsesBackWhole) {
  std::string text = "\"\\ \x7f\xc3\xa9/";
  for (char byte = 0; byte < 0x20; ++byte) text += byte;
  const auto parsed = nlohmann::json::parse("\"" + EscapeJsonString(text) + "\"", nullptr, /*allow_exceptions=*/false);
  ASSERT_TRUE(parsed.is_string());
  EXPECT_EQ(parsed.get<std::string>(), text);
}

}  // namespace
}  // namespace pelno
