#include "engine/output_summary.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

TEST(SummarizeOutputTest, EmptyOutputIsMarked) {
  EXPECT_EQ(SummarizeOutput("", kEngineOutputSummaryLimit), "<empty>");
}

TEST(SummarizeOutputTest, OutputOfOnlyLineBreaksIsEmpty) {
  EXPECT_EQ(SummarizeOutput("\r\n\n\t\r\n", kEngineOutputSummaryLimit), "<empty>");
}

TEST(SummarizeOutputTest, LineBreakPairsFoldIntoOneSpace) {
  EXPECT_EQ(SummarizeOutput("a\r\n\r\nb", kEngineOutputSummaryLimit), "a b");
}

TEST(SummarizeOutputTest, LeadingLineFeedsVanish) {
  EXPECT_EQ(SummarizeOutput("\n\nFATAL start", kEngineOutputSummaryLimit), "FATAL start");
}

TEST(SummarizeOutputTest, LineFeedAfterSpaceIsDroppedButFollowingSpaceKept) {
  EXPECT_EQ(SummarizeOutput("a \n b", kEngineOutputSummaryLimit), "a  b");
}

TEST(SummarizeOutputTest, RunsOfOrdinarySpacesStayAndTabsFold) {
  EXPECT_EQ(SummarizeOutput("a   b\t\tc", kEngineOutputSummaryLimit), "a   b c");
}

TEST(SummarizeOutputTest, TrailingLineEndLeavesOneSpace) {
  EXPECT_EQ(SummarizeOutput("error\r\n", kEngineOutputSummaryLimit), "error ");
}

TEST(SummarizeOutputTest, CutsAtTheLimitAndMarksTheCut) {
  const std::string output(899, 'x');
  EXPECT_EQ(SummarizeOutput(output, kEngineOutputSummaryLimit), output);
  EXPECT_EQ(SummarizeOutput(output + "y", kEngineOutputSummaryLimit), output + "y...");
  EXPECT_EQ(SummarizeOutput(output + "yz", kEngineOutputSummaryLimit), output + "y...");
  EXPECT_EQ(SummarizeOutput(std::string(5000, 'q'), kEngineOutputSummaryLimit),
            std::string(900, 'q') + "...");
}

TEST(SummarizeOutputTest, FoldedBytesDoNotCountTowardsTheLimit) {
  const std::string output = "\r\n\r\n" + std::string(4, 'a') + "\r\n" + "bcdef";
  // "aaaa bcdef" reaches 6 bytes at "aaaa b".
  EXPECT_EQ(SummarizeOutput(output, 6), "aaaa b...");
}

TEST(SummarizeOutputTest, CutMayFallInsideAMultiByteCharacter) {
  // U+00E9 is two bytes; a limit of 2 keeps "a" and the first byte only.
  EXPECT_EQ(SummarizeOutput("a\xC3\xA9z", 2), "a\xC3...");
}

}  // namespace
}  // namespace pelno
