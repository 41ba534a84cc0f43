#include "engine/output_summary.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

TEST(SummarizeOutputTest, FoldsLineBreaksCutsAtTheLimitAndMarksEmpty) {
  const std::string x899(899, 'x');
  const struct {
    std::string output;
    size_t limit;
    std::string summary;
  } cases[] = {
      {"", kEngineOutputSummaryLimit, "<empty>"},
      {"\r\n\n\t\r\n", kEngineOutputSummaryLimit, "<empty>"},
      {"a\r\n\r\nb", kEngineOutputSummaryLimit, "a b"},
      {"\n\nFATAL start", kEngineOutputSummaryLimit, "FATAL start"},
      {"a \n b", kEngineOutputSummaryLimit, "a  b"},  // line feed after a space dropped
      {"a   b\t\tc", kEngineOutputSummaryLimit, "a   b c"},
      {"error\r\n", kEngineOutputSummaryLimit, "error "},
      {x899, kEngineOutputSummaryLimit, x899},
      {x899 + "y", kEngineOutputSummaryLimit, x899 + "y..."},
      {x899 + "yz", kEngineOutputSummaryLimit, x899 + "y..."},
      {std::string(5000, 'q'), kEngineOutputSummaryLimit, std::string(900, 'q') + "..."},
      // Folded bytes do not count: "aaaa bcdef" reaches 6 bytes at "aaaa b".
      {"\r\n\r\naaaa\r\nbcdef", 6, "aaaa b..."},
      // U+00E9 is two bytes; a limit of 2 keeps "a" and the first byte only.
      {"a\xC3\xA9z", 2, "a\xC3..."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SummarizeOutput(c.output, c.limit), c.summary) << c.output.substr(0, 40);
  }
}

}  // namespace
}  // namespace pelno
