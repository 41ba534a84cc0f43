// The engine's command line for one fetch.
#include "urltest/fetch_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelno {
namespace {

// The C runtime's (and CommandLineToArgvW's) reading of the arguments after the
// program name: 2n backslashes before a quote give n and the quote opens or closes a
// quoted part, 2n+1 give n and a literal quote, other backslashes are literal. The
// "" inside a quoted part, which the readers take differently, is left out: a quoting
// that leaned on it would fail here.
std::vector<std::wstring> SplitArguments(std::wstring_view line) {
  std::vector<std::wstring> args;
  for (std::size_t i = 0;;) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i == line.size()) return args;
    std::wstring& arg = args.emplace_back();
    for (bool quoted = false; i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'));) {
      std::size_t backslashes = 0;
      for (; i < line.size() && line[i] == L'\\'; ++i) ++backslashes;
      if (i < line.size() && line[i] == L'"') {
        arg.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) arg += L'"';
        else quoted = !quoted;
        ++i;
      } else {
        arg.append(backslashes, L'\\');
        if (backslashes == 0) arg += line[i++];
      }
    }
  }
}

// Each node tag reaches the engine as exactly one argument, whatever it holds.
TEST(FetchCommandLine, QuotesEachTextSoTheEngineReadsItBack) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"A", LR"("A")"}, {L"plain tag", LR"("plain tag")"}, {L"a\tb", L"\"a\tb\""}, {LR"(a"b)", LR"("a\"b")"},
      {LR"(a" run -c "x)", LR"("a\" run -c \"x")"}, {LR"(")", LR"("\"")"}, {LR"(ends\)", LR"("ends\\")"},
      {LR"(C:\dir\x)", LR"("C:\dir\x")"}, {LR"(a\"b)", LR"("a\\\"b")"}, {LR"(a\\"b)", LR"("a\\\\\"b")"},
      {LR"(\\\)", LR"("\\\\\\")"}, {L"", LR"("")"},
  };
  const std::wstring engine = LR"(C:\Program Files\PelnoVPN\sing-box.exe)";
  for (const auto& [text, quoted] : cases) {
    EXPECT_EQ(QuoteCommandLineArgument(text), quoted) << text;
    const std::vector<std::wstring> arguments = {engine, L"--disable-color", L"-c", L"run 1.json", L"tools", L"-o",
                                                 text, L"fetch", text};
    EXPECT_EQ(SplitArguments(UrlTestFetchCommandLine(engine, L"run 1.json", text, text)), arguments) << text;
  }
}

}  // namespace
}  // namespace pelno
