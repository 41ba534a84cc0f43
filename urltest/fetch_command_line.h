// The engine's fetch command line. Node tags and the test URL come from a
// subscription, that is from a remote party, and the engine runs with the
// helper's rights: each must reach the engine as exactly one argument.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

// `text` in double quotes so that the Windows argument parser (CommandLineToArgvW,
// the C runtime) reads it back as one argument, byte for byte: a quote becomes \"
// and the backslashes right before a quote, or before the closing quote, are
// doubled. Text without quotes and without a trailing backslash is only wrapped.
std::wstring QuoteCommandLineArgument(std::wstring_view text);

// "<engine>" --disable-color -c "<config>" tools -o "<tag>" fetch "<url>"
std::wstring UrlTestFetchCommandLine(std::wstring_view enginePath, std::wstring_view configPath,
                                     std::wstring_view nodeTag, std::wstring_view testUrl);

}  // namespace pelno
