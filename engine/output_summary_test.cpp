#include "engine/output_summary.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

TEST(SummarizeOutputTest, OneCleanLineCutAtACharacterBoundary) {
  const std::size_t kLimit = kEngineOutputSummaryLimit;
  const std::string x899(899, 'x');
  const struct { std::string output; std::size_t limit; std::string summary; } cases[] = {
      {"", kLimit, "<empty>"}, {"\r\n\x1b[0m\t\n", kLimit, "<empty>"},
      {"\n\nFATAL bad\r\n\r\n", kLimit, "FATAL bad"}, {"a\r\n\r\nb\t", kLimit, "a b"},
      {"a \n b", kLimit, "a  b"},  // the line feed after a space is dropped, spaces kept
      {"a   b\t\tc ", kLimit, "a   b c "},
      {"\x1b[31mFATAL\x1b[0m[0000] \x1b[1;38;5;208mbad\x1b[m\n", kLimit, "FATAL[0000] bad"},
      {"a\x1b[12\nb\x1b[", kLimit, "a b"},  // sequences broken off by a line end or the end
      {x899, kLimit, x899}, {x899 + "y", kLimit, x899 + "y..."},
      {std::string(5000, 'q'), kLimit, std::string(900, 'q') + "..."},
      // Dropped bytes do not count; a folded line end does once a byte follows it.
      {"\r\n\r\naaaa\x1b[0m\r\nbcdef", 6, "aaaa b..."},
      // Multi-byte characters are kept whole or left out.
      {"a\xC3\xA9z", 2, "a..."}, {"a\xC3\xA9z", 3, "a\xC3\xA9..."}, {"a\xE2\x82\xAC", 3, "a..."},
      {"ab\xF0\x9F\x98\x80z", 5, "ab..."}, {"ab\xF0\x9F\x98\x80z", 6, "ab\xF0\x9F\x98\x80..."},
  };
  for (const auto& c : cases) EXPECT_EQ(SummarizeOutput(c.output, c.limit), c.summary) << c.output.substr(0, 40);
}

}  // namespace
}  // namespace pelno
