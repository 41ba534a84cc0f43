#include "engine/json_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>

namespace pelno {
namespace {

TEST(JsonInt64FieldTest, ReadsTheLongestValidPrefixAfterTheKey) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const std::pair<std::string_view, std::int64_t> cases[] = {
      {R"({"up":1024,"down":2048})", 1024},
      {R"({"up" :1024})", 0},                        // no space allowed before the colon
      {R"({"upload":7,"up":9})", 9},                 // the key is matched whole, in quotes
      {"HTTP/1.1 200 OK\r\n\r\n{\"up\": \t\n\v\f\r42}", 42}, {R"({"up":-17})", -17}, {R"({"up":12-3})", 12},
      {R"({"up":--5})", 0}, {R"({"up":-})", 0}, {R"({"up":3.75})", 3}, {R"({"up":6e3})", 6},
      {R"({"up":"5"})", 0}, {R"({"up":true})", 0}, {R"({"up":null})", 0}, {R"({"up":)", 0},
      {R"({"down":5})", 0}, {R"({"up":9223372036854775807})", kMax}, {R"({"up":9223372036854775808})", kMax},
      {R"({"up":123456789012345678901234567890})", kMax}, {R"({"up":-9223372036854775808})", kMin},
      {R"({"up":-9223372036854775809})", kMin},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(JsonInt64Field(text, "up"), value) << text;
}

}  // namespace
}  // namespace pelno
