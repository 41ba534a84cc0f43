#include "base/system_error_text.h"

#include "base/text_encoding.h"
#include "base/unique_handle.h"

namespace pelno {
namespace {

bool IsTrailingSpace(wchar_t c) { return c == L'\r' || c == L'\n' || c == L' ' || c == L'\t'; }

}  // namespace

std::string SystemErrorText(DWORD code) {
  UniqueLocalMemory<wchar_t*> owned;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(owned.Receive()), 0, nullptr);
  const wchar_t* raw = owned.Get();
  std::wstring_view text(raw == nullptr ? L"" : raw, raw == nullptr ? 0 : length);
  while (!text.empty() && IsTrailingSpace(text.back())) text.remove_suffix(1);
  if (text.empty()) return "Windows error " + std::to_string(code);
  return WideToUtf8(text);
}

}  // namespace pelno
