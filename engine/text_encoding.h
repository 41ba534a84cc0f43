// Conversion of wide (UTF-16 on Windows) text to UTF-8 for messages.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

// UTF-16 (or, where wchar_t is 32 bits wide, UTF-32) to UTF-8. Unpaired
// surrogates become U+FFFD, so the conversion never fails.
std::string WideToUtf8(std::wstring_view text);

}  // namespace pelno
