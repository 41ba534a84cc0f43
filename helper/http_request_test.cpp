#include "helper/http_request.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

// ---- FindHeaderValue ----

TEST(FindHeaderValueTest, MatchesNameInAnyLetterCaseAndSkipsSpaces) {
  EXPECT_EQ(FindHeaderValue("POST /start HTTP/1.1\r\ncontent-LENGTH:   12\r\nHost: x", "Content-Length"),
            "12");
}

TEST(FindHeaderValueTest, KeepsValueCaseAndTrailingSpacesAndStopsAtLineEnd) {
  const std::string block = "GET / HTTP/1.1\r\nX-Name:  MiXeD Value  \r\nNext: 1";
  EXPECT_EQ(FindHeaderValue(block, "x-name"), "MiXeD Value  ");
  EXPECT_EQ(FindHeaderValue(block, "NEXT"), "1");  // last line: runs to the end of the block
}

TEST(FindHeaderValueTest, TabsAfterTheColonAreNotSkipped) {
  EXPECT_EQ(FindHeaderValue("GET / HTTP/1.1\r\nContent-Length:\t 7", "Content-Length"), "\t 7");
}

TEST(FindHeaderValueTest, AbsentHeaderOrNameWithoutColonGivesEmpty) {
  EXPECT_EQ(FindHeaderValue("GET / HTTP/1.1\r\nHost: a", "Content-Length"), "");
  EXPECT_EQ(FindHeaderValue("GET /content-length HTTP/1.1", "Content-Length"), "");
}

TEST(FindHeaderValueTest, FirstOccurrenceAnywhereCountsEvenInsideAnotherName) {
  // The lookup is a plain search: "X-Content-Length:" comes first and wins.
  EXPECT_EQ(FindHeaderValue("GET / HTTP/1.1\r\nX-Content-Length: 5\r\nContent-Length: 9",
                            "Content-Length"),
            "5");
}

// ---- ParseContentLength ----

TEST(ParseContentLengthTest, DigitsLeadingWhitespaceAndStopAtFirstNonDigit) {
  EXPECT_EQ(ParseContentLength("12"), 12u);
  EXPECT_EQ(ParseContentLength("\t \r\n\v\f 42"), 42u);
  EXPECT_EQ(ParseContentLength("15abc"), 15u);
  EXPECT_EQ(ParseContentLength("7 8"), 7u);
  EXPECT_EQ(ParseContentLength("007"), 7u);
}

TEST(ParseContentLengthTest, NoDigitsGivesZero) {
  EXPECT_EQ(ParseContentLength(""), 0u);
  EXPECT_EQ(ParseContentLength("abc"), 0u);
  EXPECT_EQ(ParseContentLength("-1"), 0u);
  EXPECT_EQ(ParseContentLength("+5"), 0u);
}

TEST(ParseContentLengthTest, ThirtyTwoBitBoundaryAndOverflowClamp) {
  EXPECT_EQ(ParseContentLength("4294967295"), 4294967295u);
  EXPECT_EQ(ParseContentLength("4294967296"), 4294967295u);
  EXPECT_EQ(ParseContentLength("99999999999999999999999999"), 4294967295u);
}

// ---- RequestAssembler ----

TEST(RequestAssemblerTest, ByteByByteArrivalAssemblesTheRequest) {
  const std::string raw =
      "POST /start HTTP/1.1\r\nHost: 127.0.0.1:17891\r\nContent-Length: 5\r\n\r\nhello";
  RequestAssembler assembler;
  for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
    ASSERT_EQ(assembler.Append(raw.substr(i, 1)), RequestState::kIncomplete) << "at byte " << i;
  }
  ASSERT_EQ(assembler.Append(raw.substr(raw.size() - 1)), RequestState::kComplete);
  const ControlRequest request = assembler.Request();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/start");
  EXPECT_EQ(request.headerBlock,
            "POST /start HTTP/1.1\r\nHost: 127.0.0.1:17891\r\nContent-Length: 5");
  EXPECT_EQ(request.body, "hello");
}

TEST(RequestAssemblerTest, TerminatorSplitAcrossReadsIsFound) {
  RequestAssembler assembler;
  EXPECT_EQ(assembler.Append("GET /ping HTTP/1.1\r"), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("\n\r"), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("\n"), RequestState::kComplete);
  EXPECT_EQ(assembler.Request().path, "/ping");
}

TEST(RequestAssemblerTest, BodyIsCutToContentLengthAndLaterBytesIgnored) {
  RequestAssembler assembler;
  ASSERT_EQ(assembler.Append("POST /start HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdef"),
            RequestState::kComplete);
  EXPECT_EQ(assembler.Append("more"), RequestState::kComplete);
  EXPECT_EQ(assembler.Request().body, "abc");
}

TEST(RequestAssemblerTest, WithoutContentLengthTheBodyIsEmpty) {
  RequestAssembler assembler;
  ASSERT_EQ(assembler.Append("POST /start HTTP/1.1\r\nHost: localhost\r\n\r\n{\"a\":1}"),
            RequestState::kComplete);
  EXPECT_EQ(assembler.Request().body, "");
}

TEST(RequestAssemblerTest, HalfTheAnnouncedBodyStaysIncomplete) {
  RequestAssembler assembler;
  EXPECT_EQ(assembler.Append("POST /start HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345"),
            RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("6789"), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("0"), RequestState::kComplete);
  EXPECT_EQ(assembler.Request().body, "1234567890");
}

TEST(RequestAssemblerTest, RequestLineTokensAndMissingTokens) {
  RequestAssembler full;
  full.Append("GET  /ping?x=1\tHTTP/1.1 extra\r\n\r\n");
  EXPECT_EQ(full.Request().method, "GET");
  EXPECT_EQ(full.Request().path, "/ping?x=1");

  RequestAssembler lonely;
  ASSERT_EQ(lonely.Append("GET\r\n\r\n"), RequestState::kComplete);
  EXPECT_EQ(lonely.Request().method, "GET");
  EXPECT_EQ(lonely.Request().path, "");

  RequestAssembler empty;
  ASSERT_EQ(empty.Append("\r\n\r\n"), RequestState::kComplete);
  EXPECT_EQ(empty.Request().method, "");
  EXPECT_EQ(empty.Request().headerBlock, "");
}

// Header bytes without a terminator, `size` bytes in all.
std::string UnfinishedHeader(std::size_t size) {
  std::string head = "GET /ping HTTP/1.1\r\nX-Fill: ";
  head.resize(size, 'a');
  return head;
}

TEST(RequestAssemblerTest, ExactlyTheHeaderLimitKeepsWaitingThenCompletes) {
  RequestAssembler assembler;
  std::string head = UnfinishedHeader(kHeaderPhaseLimit);
  for (std::size_t at = 0; at < head.size(); at += kReceiveChunkSize) {
    ASSERT_EQ(assembler.Append(std::string_view(head).substr(at, kReceiveChunkSize)),
              RequestState::kIncomplete);
  }
  // The header block itself is exactly at the limit: still accepted.
  ASSERT_EQ(assembler.Append("\r\n\r\n"), RequestState::kComplete);
  EXPECT_EQ(assembler.Request().headerBlock.size(), kHeaderPhaseLimit);
  EXPECT_EQ(assembler.Request().path, "/ping");
}

TEST(RequestAssemblerTest, PassingTheHeaderLimitWithoutTerminatorIsTooLarge) {
  RequestAssembler assembler;
  ASSERT_EQ(assembler.Append(UnfinishedHeader(kHeaderPhaseLimit)), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("a"), RequestState::kHeaderTooLarge);
  EXPECT_EQ(assembler.Append("\r\n\r\n"), RequestState::kHeaderTooLarge);  // stays refused
}

TEST(RequestAssemblerTest, HeaderBlockOverTheLimitIsTooLargeEvenWithItsTerminator) {
  RequestAssembler assembler;
  ASSERT_EQ(assembler.Append(UnfinishedHeader(kHeaderPhaseLimit - 2)), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("aaa\r\n\r\n"), RequestState::kHeaderTooLarge);
}

TEST(RequestAssemblerTest, LargeBodyAfterASmallHeaderIsNotHeldToTheHeaderLimit) {
  const std::string body(kHeaderPhaseLimit + 10, 'b');
  RequestAssembler assembler;
  ASSERT_EQ(assembler.Append("POST /start HTTP/1.1\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\n\r\n" + body),
            RequestState::kComplete);
  EXPECT_EQ(assembler.Request().body.size(), body.size());
}

TEST(RequestAssemblerTest, ContentLengthAboveTheBodyLimitIsRefusedBeforeAnyBodyByte) {
  RequestAssembler assembler;
  EXPECT_EQ(assembler.Append("POST /start HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n"),
            RequestState::kBodyTooLarge);
  RequestAssembler huge;
  EXPECT_EQ(huge.Append("POST /start HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n"),
            RequestState::kBodyTooLarge);
  RequestAssembler atLimit;
  EXPECT_EQ(atLimit.Append("POST /start HTTP/1.1\r\nContent-Length: 67108864\r\n\r\n"),
            RequestState::kIncomplete);
}

TEST(RequestAssemblerTest, ForbiddenHeadersAreRefusedOnceTheHeaderIsComplete) {
  RequestAssembler assembler;
  EXPECT_EQ(assembler.Append("POST /stop HTTP/1.1\r\nOrigin: http://evil.example"),
            RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("\r\nContent-Length: 5\r\n\r\n"), RequestState::kForbidden);
}

}  // namespace
}  // namespace pelno
