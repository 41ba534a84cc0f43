#include "server/http_request.h"

#include <algorithm>
#include <limits>

#include "server/request_guard.h"

namespace pelno {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The whitespace set of the C library's isspace in the "C" locale.
bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Next whitespace-delimited token of `line` starting at `pos`; empty at the end.
std::string_view NextToken(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && IsCSpace(line[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && !IsCSpace(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

// Gives `buffer` room for `size` bytes, with `share` covering the memory it then holds.
bool ReserveHeld(std::string& buffer, std::size_t size, BudgetShare& share) {
  if (!share.GrowTo(size)) return false;
  buffer.reserve(size);
  return share.GrowTo(buffer.capacity());
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool ForEachHeaderValue(std::string_view headerBlock, std::string_view name,
                        const std::function<bool(std::string_view)>& visit) {
  std::size_t lineStart = headerBlock.find('\n');  // skips the request line
  while (lineStart != std::string_view::npos) {
    ++lineStart;
    const std::size_t lineEnd = headerBlock.find('\n', lineStart);
    std::string_view line = headerBlock.substr(
        lineStart, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - lineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsIgnoreCase(TrimBlanks(line.substr(0, colon)), name) &&
        !visit(line.substr(colon + 1))) {
      return false;
    }
    lineStart = lineEnd;
  }
  return true;
}

std::string FindHeaderValue(std::string_view headerBlock, std::string_view name) {
  std::string found;
  ForEachHeaderValue(headerBlock, name, [&found](std::string_view value) {
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    found = value;
    return false;
  });
  return found;
}

std::uint32_t ParseContentLength(std::string_view value) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::size_t pos = 0;
  while (pos < value.size() && IsCSpace(value[pos])) ++pos;
  std::uint64_t result = 0;
  for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
    result = std::min(kMax, result * 10 + static_cast<std::uint64_t>(value[pos] - '0'));
  }
  return static_cast<std::uint32_t>(result);
}

RequestState RequestAssembler::Append(std::string_view bytes) {
  if (state_ != RequestState::kIncomplete) return state_;
  if (headerEnd_ != std::string::npos) {
    // The whole request is held in the share already; bytes past it are dropped.
    buffer_.append(bytes.substr(0, RequestSize() - buffer_.size()));
    return state_ = CheckBody();
  }
  const std::size_t needed = buffer_.size() + bytes.size();
  if (needed > buffer_.capacity()) {
    // Doubling, as the string itself would grow, but never past what a header phase holds.
    const std::size_t room = std::max(needed, std::min(2 * buffer_.capacity(), kHeaderPhaseHeld));
    if (!ReserveHeld(buffer_, room, headerShare_)) return state_ = RequestState::kOverBudget;
  }
  // Only the new bytes and the three before them can complete a terminator, so
  // each search covers a bounded window instead of the whole buffer.
  const std::size_t searchFrom = buffer_.size() >= 3 ? buffer_.size() - 3 : 0;
  buffer_.append(bytes);
  const std::size_t found = buffer_.find(kHeaderTerminator, searchFrom);
  if (found == std::string::npos) {
    if (buffer_.size() > kHeaderPhaseLimit) state_ = RequestState::kHeaderTooLarge;
    return state_;
  }
  headerEnd_ = found;
  return state_ = FinishHeader();
}

RequestState RequestAssembler::FinishHeader() {
  // The limit is on the header block, whatever else arrived in the same read.
  if (headerEnd_ > kHeaderPhaseLimit) return RequestState::kHeaderTooLarge;
  const std::string_view headerBlock = std::string_view(buffer_).substr(0, headerEnd_);
  if (!IsRequestAllowed(headerBlock)) return RequestState::kForbidden;
  const std::string_view requestLine = headerBlock.substr(0, headerBlock.find("\r\n"));
  std::size_t pos = 0;
  method_ = NextToken(requestLine, pos);
  path_ = NextToken(requestLine, pos);
  if (admission_ && !admission_(method_, path_)) return RequestState::kForbidden;
  const std::string lengthText = FindHeaderValue(headerBlock, "Content-Length");
  contentLength_ = lengthText.empty() ? 0 : ParseContentLength(lengthText);
  if (contentLength_ > kBodyLimit) return RequestState::kBodyTooLarge;
  // The admitted request moves to the main budget in a buffer of its exact size: one
  // allocation for the body, not a doubling series, and the header phase's given back.
  std::string whole;
  if (!ReserveHeld(whole, RequestSize(), share_)) return RequestState::kOverBudget;
  whole.append(buffer_, 0, std::min(buffer_.size(), RequestSize()));
  buffer_ = std::move(whole);
  headerShare_.Clear();
  return CheckBody();
}

std::size_t RequestAssembler::RequestSize() const {
  return headerEnd_ + kHeaderTerminator.size() + contentLength_;
}

RequestState RequestAssembler::CheckBody() const {
  return buffer_.size() == RequestSize() ? RequestState::kComplete : RequestState::kIncomplete;
}

ControlRequest RequestAssembler::TakeRequest() {
  ControlRequest request;
  if (state_ != RequestState::kComplete || buffer_.size() != RequestSize()) return request;
  request.method = std::move(method_);
  request.path = std::move(path_);
  request.headerBlock = std::string_view(buffer_).substr(0, headerEnd_);
  // The body keeps the buffer's memory instead of a copy of it.
  request.body = std::move(buffer_);
  request.body.erase(0, headerEnd_ + kHeaderTerminator.size());
  buffer_.clear();
  return request;
}

}  // namespace pelno
