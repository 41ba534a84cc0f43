#include "runner/utils.h"

#include <gtest/gtest.h>

namespace {

TEST(RunnerUtils, WideToUtf8GivesUtf8OrEmptyForInvalidText) {
  struct Case {
    const wchar_t* wide;
    std::string utf8;
  };
  const Case cases[] = {
      {nullptr, ""},
      {L"", ""},
      {L"--flag=1", "--flag=1"},
      {L"\u00e9\u20ac\U0001F600", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {L"a\xD800z", ""},  // unpaired surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
}

}  // namespace
