// Conversions between UTF-8 (messages, JSON, configuration texts) and wide text
// (UTF-16 on Windows: paths, registry values, service names).
#pragma once

#include <string>
#include <string_view>

namespace pelno {

// UTF-16 (or, where wchar_t is 32 bits wide, UTF-32) to UTF-8. Unpaired
// surrogates become U+FFFD, so the conversion never fails.
std::string WideToUtf8(std::wstring_view text);

// UTF-8 to wide text. Each byte that does not start a valid sequence (overlong
// forms, surrogates and values above U+10FFFF included) becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text);

// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace pelno
