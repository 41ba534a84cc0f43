#include "urltest/fetch_command_line.h"

namespace pelno {

std::wstring QuoteCommandLineArgument(std::wstring_view text) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : text) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are read in pairs; an odd one escapes the quote.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');  // so the closing quote stays a quote
  quoted += L'"';
  return quoted;
}

std::wstring UrlTestFetchCommandLine(std::wstring_view enginePath, std::wstring_view configPath,
                                     std::wstring_view nodeTag, std::wstring_view testUrl) {
  return QuoteCommandLineArgument(enginePath) + L" --disable-color -c " +
         QuoteCommandLineArgument(configPath) + L" tools -o " + QuoteCommandLineArgument(nodeTag) +
         L" fetch " + QuoteCommandLineArgument(testUrl);
}

}  // namespace pelno
