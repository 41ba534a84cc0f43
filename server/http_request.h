// Reading one control request from a connection: header lookup, Content-Length
// and the assembler that turns arriving bytes into a ControlRequest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "server/request_memory_budget.h"

namespace pelno {

// Bytes taken from the socket per read.
inline constexpr std::size_t kReceiveChunkSize = 4096;
// Bytes a request may hold before its "\r\n\r\n" has been seen.
inline constexpr std::size_t kHeaderPhaseLimit = 1048576;
// Largest Content-Length accepted; a larger one is refused before any body byte is read.
inline constexpr std::uint32_t kBodyLimit = 64u * 1024u * 1024u;
// Bytes all admitted requests together may hold in memory at once: four of the
// largest requests allowed. Beyond it a request is refused (413), its body unread.
inline constexpr std::size_t kRequestMemoryBudget = 4 * (kHeaderPhaseLimit + std::size_t{kBodyLimit});
// The most one request holds before its "\r\n\r\n" has been seen (the limit and
// the read that passes it), and the bytes all requests together may hold then,
// before their caller is known: eight such requests. Beyond it a request is refused
// (413). Apart from kRequestMemoryBudget, so that the connections of a caller that
// will be refused cannot take the memory that admitted callers' bodies need.
inline constexpr std::size_t kHeaderPhaseHeld = kHeaderPhaseLimit + kReceiveChunkSize;
inline constexpr std::size_t kHeaderMemoryBudget = 8 * kHeaderPhaseHeld;

inline constexpr std::string_view kHeaderTerminator = "\r\n\r\n";

struct ControlRequest {
  std::string method;       // first token of the request line, case-sensitive
  std::string path;         // second token, query string included
  std::string headerBlock;  // everything before the first "\r\n\r\n"
  std::string body;         // at most Content-Length bytes
};

// The one reader of header lines, for every header the server looks at. Calls
// `visit` with the raw value (after the colon, up to the line end) of each header
// line named `name`, in order, until it returns false; returns false when it did.
// The request line is no header line. Names compare case-insensitively, blanks
// around them ignored, so " Origin :" is Origin and "X-Origin" is not. Lines end
// at LF with an optional CR before it, so a bare LF cannot hide a header.
bool ForEachHeaderValue(std::string_view headerBlock, std::string_view name,
                        const std::function<bool(std::string_view)>& visit);

// The value of the first header line named `name`, spaces (not tabs) after the
// colon skipped, trailing spaces kept. Empty when there is no such line.
std::string FindHeaderValue(std::string_view headerBlock, std::string_view name);

// `text` without the spaces and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

// Unsigned decimal to 32 bits: leading whitespace skipped, stops at the first
// non-digit, no digits gives 0, too large gives 4294967295.
std::uint32_t ParseContentLength(std::string_view value);

enum class RequestState {
  kIncomplete,      // more bytes needed
  kComplete,        // Request() is ready
  kHeaderTooLarge,  // the header phase passed kHeaderPhaseLimit
  kBodyTooLarge,    // Content-Length above kBodyLimit
  kOverBudget,      // the request's bytes would pass the memory budget of all requests
  kForbidden,       // refused by IsRequestAllowed or by the assembler's admission
};

// Asked once a request's header has been read, before its body: false refuses the
// request (kForbidden) with the same reply as a foreign Host or an Origin.
using RequestAdmission = std::function<bool(std::string_view method, std::string_view path)>;

// Collects the bytes of one request as they arrive, holding the memory of its
// buffer against the budgets: while the header arrives, against `headerBudget`;
// once the request is admitted, against `budget`, which takes at once the whole
// length the header announces, so that a body the budget cannot hold is refused
// before it is read. Once the state is no longer kIncomplete further bytes are
// ignored, as are bytes past the announced body. The shares are given back when
// the assembler goes. An `admission`, when given, is asked after the Host/Origin
// guard and before the limits of the body.
class RequestAssembler {
 public:
  RequestAssembler(RequestMemoryBudget& headerBudget, RequestMemoryBudget& budget, RequestAdmission admission = {})
      : headerShare_(headerBudget), share_(budget), admission_(std::move(admission)) {}

  RequestState Append(std::string_view bytes);
  RequestState state() const { return state_; }

  // Moves the request out, once, in state kComplete (an empty request otherwise).
  ControlRequest TakeRequest();

 private:
  RequestState FinishHeader();
  RequestState CheckBody() const;
  std::size_t RequestSize() const;  // header, terminator and announced body

  BudgetShare headerShare_;  // the buffer while the header arrives
  BudgetShare share_;        // the buffer once the request is admitted
  RequestAdmission admission_;
  std::string buffer_;
  std::string method_;  // from the request line, once the header is read
  std::string path_;
  std::size_t headerEnd_ = std::string::npos;  // offset of the terminator once seen
  std::uint32_t contentLength_ = 0;
  RequestState state_ = RequestState::kIncomplete;
};

}  // namespace pelno
