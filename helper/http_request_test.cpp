#include "helper/http_request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace pelno {
namespace {

TEST(FindHeaderValueTest, PlainCaseBlindSearchSkippingSpacesNotTabs) {
  const struct {
    const char* block;
    const char* name;
    const char* value;
  } cases[] = {
      {"POST /start HTTP/1.1\r\ncontent-LENGTH:   12\r\nHost: x", "Content-Length", "12"},
      {"GET / HTTP/1.1\r\nX-Name:  MiXeD Value  \r\nNext: 1", "x-name", "MiXeD Value  "},
      {"GET / HTTP/1.1\r\nX-Name:  MiXeD Value  \r\nNext: 1", "NEXT", "1"},  // runs to the end
      {"GET / HTTP/1.1\r\nContent-Length:\t 7", "Content-Length", "\t 7"},
      {"GET / HTTP/1.1\r\nHost: a", "Content-Length", ""},
      {"GET /content-length HTTP/1.1", "Content-Length", ""},
      // A plain search: "X-Content-Length:" comes first and wins.
      {"GET / HTTP/1.1\r\nX-Content-Length: 5\r\nContent-Length: 9", "Content-Length", "5"},
  };
  for (const auto& c : cases) EXPECT_EQ(FindHeaderValue(c.block, c.name), c.value) << c.block;
}

TEST(ParseContentLengthTest, LeadingDigitsOrZeroClampedToThirtyTwoBits) {
  const struct {
    const char* text;
    std::uint32_t value;
  } cases[] = {
      {"12", 12u},         {"\t \r\n\v\f 42", 42u}, {"15abc", 15u},
      {"7 8", 7u},         {"007", 7u},               {"", 0u},
      {"abc", 0u},         {"-1", 0u},                {"+5", 0u},
      {"4294967295", 4294967295u}, {"4294967296", 4294967295u},
      {"99999999999999999999999999", 4294967295u},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
}

// ---- RequestAssembler ----

TEST(RequestAssemblerTest, TerminatorSplitAcrossReadsIsFound) {
  RequestAssembler assembler;
  EXPECT_EQ(assembler.Append("GET /ping HTTP/1.1\r"), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("\n\r"), RequestState::kIncomplete);
  EXPECT_EQ(assembler.Append("\n"), RequestState::kComplete);
  EXPECT_EQ(assembler.Request().path, "/ping");
  EXPECT_EQ(assembler.Request().headerBlock, "GET /ping HTTP/1.1");
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
