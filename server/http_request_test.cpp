#include "server/http_request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/request_guard.h"

namespace pelno {
namespace {

TEST(FindHeaderValueTest, ReadsHeaderLinesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"POST /start HTTP/1.1\r\ncontent-LENGTH:   12\r\nHost: x", "12"},
      {"POST /start HTTP/1.1\r\nContent-Length:\t 7 \r\nHost: x", "\t 7 "},
      {"POST /start HTTP/1.1\r\nHost: x\r\n Content-Length : 4", "4"},
      {"POST /start HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2", "1"},
      {"POST /start HTTP/1.1\r\nReferer: /a\r\nContent-Length-X: 5", ""},
  };
  for (const auto& [block, value] : cases) EXPECT_EQ(FindHeaderValue(block, "Content-Length"), value) << block;
}

// No Origin header, only loopback Host headers; also what counts as a header line.
TEST(RequestGuardTest, OriginAndForeignHostsAreRefused) {
  const std::string ping = "GET /ping HTTP/1.1\r\n";
  const std::pair<std::string, bool> cases[] = {
      {ping + "Host: 127.0.0.1:17891\r\nOrigin: http://127.0.0.1", false},
      {ping + "ORIGIN: null", false}, {ping + "Origin:", false},
      {ping + "X-A: 1\nOrigin: http://evil.example", false},  // a bare line feed hides nothing
      {ping + "X-Origin-Trace: 1\r\nReferer: http://a/origin: b", true},
      {"GET /origin:x HTTP/1.1\r\nHost: localhost", true},  // the request line is no header
      {ping + "Host: 127.0.0.1", true}, {ping + "host: LocalHost:80", true}, {ping + "Host:localhost  ", true},
      {ping + "Host: evil.example:17891", false}, {ping + "Host: 127.0.0.1.evil.example", false},
      {ping + "Host: localhost.evil.example:17891", false}, {ping + "Host: [::1]:17891", false},
      {ping + "Host: 127.0.0.1:80@evil", false}, {ping + "Host: ", false},
      {ping + "Host: localhost\r\nHost: evil.example", false}, {ping + "X-Host: evil.example", true},
      {"GET /ping HTTP/1.1", true},
  };
  for (const auto& [block, allowed] : cases) EXPECT_EQ(IsRequestAllowed(block), allowed) << block;
}

TEST(ParseContentLengthTest, LeadingDigitsOrZeroClampedToThirtyTwoBits) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"\t \r\n\v\f 42", 42u}, {"15abc", 15u}, {"", 0u}, {"-1", 0u},
      {"4294967295", 4294967295u}, {"4294967296", 4294967295u},
      {"99999999999999999999999999", 4294967295u},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseContentLength(text), value) << text;
}

// Pieces as they arrive; the state after each of them; method, path and body when complete.
TEST(RequestAssemblerTest, StatesAndRequestsFromPieces) {
  using enum RequestState;
  const std::string start = "POST /start HTTP/1.1\r\n";
  std::string unfinished = "GET /ping HTTP/1.1\r\nX-Fill: ";  // header bytes without a terminator
  unfinished.resize(kHeaderPhaseLimit, 'a');
  const std::string bigBody(kHeaderPhaseLimit + 10, 'b');
  const std::string fitting = start + "Content-Length: 40\r\n\r\n" + std::string(40, 'f');
  const struct {
    std::vector<std::string> pieces;
    std::vector<RequestState> states;
    std::string request = "";
    std::size_t budget = kRequestMemoryBudget;
  } cases[] = {
      {{"GET /ping HTTP/1.1\r", "\n\r", "\n"}, {kIncomplete, kIncomplete, kComplete}, "GET /ping "},
      {{"GET  /ping?x=1\tHTTP/1.1 extra\r\n\r\n"}, {kComplete}, "GET /ping?x=1 "},
      {{"GET\r\n\r\n"}, {kComplete}, "GET  "},
      {{start + "Content-Length: 3\r\n\r\nabcdef", "more"}, {kComplete, kComplete}, "POST /start abc"},
      {{start + "Host: localhost\r\n\r\n{}"}, {kComplete}, "POST /start "},
      {{start + "Content-Length: 10\r\n\r\n12345", "6789", "0"},
       {kIncomplete, kIncomplete, kComplete}, "POST /start 1234567890"},
      {{start + "Content-Length: " + std::to_string(bigBody.size()) + "\r\n\r\n" + bigBody},
       {kComplete}, "POST /start " + bigBody},  // the header limit counts the header block only
      {{unfinished, "a", "\r\n\r\n"}, {kIncomplete, kHeaderTooLarge, kHeaderTooLarge}},
      // The terminator comes in the read that passes the limit.
      {{unfinished.substr(0, kHeaderPhaseLimit - 2), "aaa\r\n\r\n"}, {kIncomplete, kHeaderTooLarge}},
      // Refusals come before any body byte.
      {{start + "Content-Length: 67108865\r\n\r\n"}, {kBodyTooLarge}},
      {{start + "Content-Length: 99999999999\r\n\r\n"}, {kBodyTooLarge}},
      {{start + "Content-Length: 67108864\r\n\r\n"}, {kIncomplete}},
      {{"POST /stop HTTP/1.1\r\nOrigin: x\r\nContent-Length: 5\r\n\r\n"}, {kForbidden}},
      // A request that fills the budget to the byte is served; one byte less of budget refuses it.
      {{fitting}, {kComplete}, "POST /start " + fitting.substr(fitting.size() - 40), fitting.size()},
      {{fitting}, {kOverBudget}, "", fitting.size() - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pieces.front().substr(0, 60));
    RequestMemoryBudget headers(kHeaderMemoryBudget), budget(c.budget);
    RequestAssembler assembler(headers, budget);
    std::vector<RequestState> states;
    for (const std::string& piece : c.pieces) states.push_back(assembler.Append(piece));
    EXPECT_EQ(states, c.states);
    EXPECT_EQ(assembler.state(), c.states.back());
    if (assembler.state() != kComplete) continue;
    const ControlRequest request = assembler.TakeRequest();
    EXPECT_EQ(request.method + " " + request.path + " " + request.body, c.request);
    EXPECT_EQ(assembler.TakeRequest().method, "");  // once
  }
}

// Admitted requests together hold at most the budget: the whole announced length,
// in a buffer of that size, before any body byte is read. While a header arrives its
// buffer holds the header budget instead, charged as the buffer grows (doubling),
// ahead of the bytes. Both are given back at the end.
TEST(RequestAssemblerTest, RequestsShareTheMemoryBudgets) {
  using enum RequestState;
  const std::string head =
      "POST /start HTTP/1.1\r\nX-Fill: " + std::string(400, 'x') + "\r\nContent-Length: 600\r\n\r\n";
  const std::string ping = "GET /ping HTTP/1.1\r\nHost: 127.0.0.1:17891\r\n\r\n";
  RequestMemoryBudget headers(1000), budget(1200);
  {
    RequestAssembler first(headers, budget), second(headers, budget), small(headers, budget);
    EXPECT_EQ(first.Append(head.substr(0, 430)), kIncomplete);
    EXPECT_EQ(first.Append(head.substr(430) + "abc"), kIncomplete);
    EXPECT_EQ(budget.InUse(), head.size() + 600);
    EXPECT_EQ(headers.InUse(), 0u);  // its header phase's buffer is gone
    EXPECT_EQ(second.Append(head), kOverBudget);  // refused before its body
    EXPECT_EQ(headers.InUse(), head.size());      // until it goes
    EXPECT_EQ(small.Append(ping), kComplete);
    EXPECT_EQ(first.Append(std::string(597, 'b') + "past the body"), kComplete);
    EXPECT_EQ(budget.InUse(), head.size() + 600 + ping.size());
    EXPECT_EQ(first.TakeRequest().body.size(), 600u);
  }
  EXPECT_EQ(budget.InUse() + headers.InUse(), 0u);
  RequestAssembler headerOnly(headers, budget);
  EXPECT_EQ(headerOnly.Append(std::string(400, 'a')), kIncomplete);
  EXPECT_EQ(headerOnly.Append(std::string(100, 'a')), kIncomplete);
  EXPECT_EQ(headers.InUse(), 800u);  // what the buffer holds, not the 500 bytes in it
  EXPECT_EQ(headerOnly.Append(std::string(300, 'a')), kIncomplete);
  EXPECT_EQ(headerOnly.Append("a"), kOverBudget);  // 801 bytes would hold 1600
}

// The admission sees method and path once the header is read, after the Host/Origin
// guard; its refusal comes before the body is held or read, and before any of the
// request is charged to the budget of admitted requests.
TEST(RequestAssemblerTest, AdmissionIsAskedOnceTheHeaderIsRead) {
  using enum RequestState;
  RequestMemoryBudget headers(kHeaderMemoryBudget), budget(kRequestMemoryBudget);
  std::vector<std::string> asked;
  const auto stopOnly = [&asked](std::string_view method, std::string_view path) {
    asked.push_back(std::string(method) + " " + std::string(path));
    return path == "/stop";
  };
  RequestAssembler refused(headers, budget, stopOnly), allowed(headers, budget, stopOnly),
      guarded(headers, budget, stopOnly);
  const std::string head = "POST /start-tun HTTP/1.1\r\nContent-Length: 67108864\r\n";
  EXPECT_EQ(refused.Append(head), kIncomplete);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(refused.Append("\r\n{}"), kForbidden);
  // A refused caller's bytes never reach the budget that admitted callers' bodies need.
  EXPECT_EQ(budget.InUse(), 0u);
  EXPECT_GE(headers.InUse(), head.size() + 4);
  EXPECT_EQ(allowed.Append("POST  /stop HTTP/1.1\r\n\r\n"), kComplete);
  EXPECT_EQ(guarded.Append("POST /stop HTTP/1.1\r\nOrigin: x\r\n\r\n"), kForbidden);
  EXPECT_EQ(asked, (std::vector<std::string>{"POST /start-tun", "POST /stop"}));
  const ControlRequest request = allowed.TakeRequest();
  EXPECT_EQ(request.method + " " + request.path, "POST /stop");
}

}  // namespace
}  // namespace pelno
