// libFuzzer: the control server's request reader. The first byte chooses the size of
// the pieces the rest arrives in; the outcome must be that of all bytes at once.
#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "server/http_request.h"

static pelno::RequestMemoryBudget headerBudget(pelno::kHeaderMemoryBudget), budget(pelno::kRequestMemoryBudget);

static void Assemble(pelno::RequestAssembler& assembler, std::string_view bytes, std::size_t piece) {
  for (; !bytes.empty(); bytes.remove_prefix(std::min(piece, bytes.size()))) assembler.Append(bytes.substr(0, piece));
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  pelno::RequestAssembler whole(headerBudget, budget), pieces(headerBudget, budget);
  Assemble(whole, bytes, bytes.size());
  Assemble(pieces, bytes, data[0] % 16 + 1);
  if (whole.state() != pieces.state()) std::abort();
  if (whole.state() != pelno::RequestState::kComplete) return 0;
  const pelno::ControlRequest a = whole.TakeRequest(), b = pieces.TakeRequest();
  if (std::tie(a.method, a.path, a.headerBlock, a.body) != std::tie(b.method, b.path, b.headerBlock, b.body))
    std::abort();
  return 0;
}
