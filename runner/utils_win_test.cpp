#include "runner/utils.h"

#include <gtest/gtest.h>

namespace {

TEST(RunnerUtils, DartArgumentsAreTheCommandLinesArgumentsAfterTheProgramInUtf8) {
  const struct { const wchar_t* commandLine; std::vector<std::string> arguments; } cases[] = {
      {L"PelnoVPN.exe", {}},
      {L"\"C:\\Program Files\\PelnoVPN\\PelnoVPN.exe\" --flag=1 \"two words\"", {"--flag=1", "two words"}},
      {L"PelnoVPN.exe \u00e9\u20ac\U0001F600", {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}},
      {L"PelnoVPN.exe a\xD800z", {"a\xEF\xBF\xBDz"}},  // an unpaired surrogate becomes U+FFFD
  };
  for (const auto& c : cases) EXPECT_EQ(ReadDartArguments(c.commandLine), c.arguments);
}

}  // namespace
