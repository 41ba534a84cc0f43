// libFuzzer target: the control server's request reader. The first input byte
// chooses how the rest is cut into pieces; the assembler must reach the same
// state and request as when it gets all bytes at once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "helper/http_request.h"

namespace {

pelno::RequestAssembler Assemble(std::string_view bytes, std::size_t piece) {
  pelno::RequestAssembler assembler;
  while (!bytes.empty() && assembler.state() == pelno::RequestState::kIncomplete) {
    const std::size_t n = std::min(piece, bytes.size());
    assembler.Append(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
  return assembler;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 16 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const pelno::RequestAssembler whole = Assemble(bytes, bytes.size() + 1);
  const pelno::RequestAssembler pieces = Assemble(bytes, piece);
  if (whole.state() != pieces.state()) std::abort();
  if (whole.state() != pelno::RequestState::kComplete) return 0;
  const pelno::ControlRequest a = whole.Request();
  const pelno::ControlRequest b = pieces.Request();
  if (a.method != b.method || a.path != b.path || a.headerBlock != b.headerBlock || a.body != b.body)
    std::abort();
  pelno::FindHeaderValue(a.headerBlock, "Content-Length");
  return 0;
}
