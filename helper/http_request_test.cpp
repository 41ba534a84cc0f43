#include "helper/http_request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "helper/request_guard.h"

namespace pelno {
namespace {

TEST(FindHeaderValueTest, ReadsHeaderLinesOnly) {
  const struct {
    const char* block;
    const char* value;
  } cases[] = {
      {"POST /start HTTP/1.1\r\ncontent-LENGTH:   12\r\nHost: x", "12"},
      {"POST /start HTTP/1.1\r\nContent-Length:\t 7 \r\nHost: x", "\t 7 "},
      {"POST /start HTTP/1.1\r\nHost: x\r\n Content-Length : 4", "4"},
      {"POST /start HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2", "1"},
      {"POST /start HTTP/1.1\r\nReferer: /a\r\nContent-Length-X: 5", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FindHeaderValue(c.block, "Content-Length"), c.value) << c.block;
}

// Any Origin header is refused, and every Host header must be loopback. These
// cases also hold what counts as a header line, for every header read.
TEST(RequestGuardTest, OriginAndForeignHostsAreRefused) {
  const std::string ping = "GET /ping HTTP/1.1\r\n";
  const struct {
    std::string block;
    bool allowed;
  } cases[] = {
      {ping + "Host: 127.0.0.1:17891\r\nOrigin: http://127.0.0.1", false},
      {ping + "ORIGIN: null", false},
      {ping + "Origin:", false},
      {ping + "X-A: 1\nOrigin: http://evil.example", false},  // a bare line feed hides nothing
      {ping + "X-Origin-Trace: 1\r\nReferer: http://a/origin: b", true},
      {"GET /origin:x HTTP/1.1\r\nHost: localhost", true},  // the request line is no header
      {ping + "Host: 127.0.0.1", true},
      {ping + "host: LocalHost:80", true},
      {ping + "Host:localhost  ", true},
      {ping + "Host: evil.example:17891", false},
      {ping + "Host: 127.0.0.1.evil.example", false},
      {ping + "Host: localhost.evil.example:17891", false},
      {ping + "Host: [::1]:17891", false},
      {ping + "Host: 127.0.0.1:80@evil", false},
      {ping + "Host: ", false},
      {ping + "Host: localhost\r\nHost: evil.example", false},
      {ping + "X-Host: evil.example", true},
      {"GET /ping HTTP/1.1", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRequestAllowed(c.block), c.allowed) << c.block;
}

TEST(ParseContentLengthTest, LeadingDigitsOrZeroClampedToThirtyTwoBits) {
  const struct {
    const char* text;
    std::uint32_t value;
  } cases[] = {
      {"\t \r\n\v\f 42", 42u}, {"15abc", 15u}, {"", 0u}, {"-1", 0u},
      {"4294967295", 4294967295u}, {"4294967296", 4294967295u},
      {"99999999999999999999999999", 4294967295u},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
}

struct AssemblyCase {
  std::vector<std::string> pieces;  // as they arrive
  RequestState state;               // after the last piece
  std::string method, path, body;   // when complete
};

TEST(RequestAssemblerTest, AssemblesPiecesIntoOneRequest) {
  const std::string start = "POST /start HTTP/1.1\r\n";
  const AssemblyCase cases[] = {
      {{"GET /ping HTTP/1.1\r", "\n\r", "\n"}, RequestState::kComplete, "GET", "/ping", ""},
      {{"GET  /ping?x=1\tHTTP/1.1 extra\r\n\r\n"}, RequestState::kComplete, "GET", "/ping?x=1", ""},
      {{"GET\r\n\r\n"}, RequestState::kComplete, "GET", "", ""},
      {{start + "Content-Length: 3\r\n\r\nabcdef", "more"}, RequestState::kComplete, "POST", "/start", "abc"},
      {{start + "Host: localhost\r\n\r\n{}"}, RequestState::kComplete, "POST", "/start", ""},
      {{start + "Content-Length: 10\r\n\r\n12345", "6789"}, RequestState::kIncomplete, "", "", ""},
      {{start + "Content-Length: 10\r\n\r\n12345", "6789", "0"}, RequestState::kComplete, "POST", "/start",
       "1234567890"},
  };
  for (const AssemblyCase& c : cases) {
    RequestAssembler assembler;
    for (const std::string& piece : c.pieces) assembler.Append(piece);
    EXPECT_EQ(assembler.state(), c.state) << c.pieces.front();
    if (c.state != RequestState::kComplete) continue;
    const ControlRequest request = assembler.Request();
    EXPECT_EQ(request.method + " " + request.path + " " + request.body, c.method + " " + c.path + " " + c.body);
  }
}

// Header bytes without a terminator, `size` bytes in all.
std::string UnfinishedHeader(std::size_t size) {
  std::string head = "GET /ping HTTP/1.1\r\nX-Fill: ";
  head.resize(size, 'a');
  return head;
}

TEST(RequestAssemblerTest, HeaderLimitCountsTheHeaderBlockOnly) {
  RequestAssembler atLimit;
  EXPECT_EQ(atLimit.Append(UnfinishedHeader(kHeaderPhaseLimit)), RequestState::kIncomplete);
  EXPECT_EQ(atLimit.Append("a"), RequestState::kHeaderTooLarge);
  EXPECT_EQ(atLimit.Append("\r\n\r\n"), RequestState::kHeaderTooLarge);  // stays refused

  RequestAssembler terminated;  // the terminator arrives in the read that passes the limit
  terminated.Append(UnfinishedHeader(kHeaderPhaseLimit - 2));
  EXPECT_EQ(terminated.Append("aaa\r\n\r\n"), RequestState::kHeaderTooLarge);

  const std::string body(kHeaderPhaseLimit + 10, 'b');
  RequestAssembler largeBody;
  EXPECT_EQ(largeBody.Append("POST /start HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n" + body),
            RequestState::kComplete);
}

TEST(RequestAssemblerTest, RefusalsComeBeforeAnyBodyByte) {
  const struct {
    const char* head;
    RequestState state;
  } cases[] = {
      {"POST /start HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n", RequestState::kBodyTooLarge},
      {"POST /start HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", RequestState::kBodyTooLarge},
      {"POST /start HTTP/1.1\r\nContent-Length: 67108864\r\n\r\n", RequestState::kIncomplete},
      {"POST /stop HTTP/1.1\r\nOrigin: x\r\nContent-Length: 5\r\n\r\n", RequestState::kForbidden},
  };
  for (const auto& c : cases) {
    RequestAssembler assembler;
    EXPECT_EQ(assembler.Append(c.head), c.state) << c.head;
  }
}

}  // namespace
}  // namespace pelno
