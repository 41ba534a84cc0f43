#include "base/text_encoding.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(TextEncodingTest, Utf8ToWide) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(Utf8ToWide("C:\\Users\\J\xC3\xB6rg"), L"C:\\Users\\J\u00f6rg");
  EXPECT_EQ(Utf8ToWide(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), L"\U0001F600");
  // Invalid bytes (a lone continuation, an overlong slash, a cut sequence) become U+FFFD.
  EXPECT_EQ(Utf8ToWide("a\x80z"), L"a\uFFFDz");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToWide("x\xE2\x82"), L"x\uFFFD\uFFFD");
}

TEST(TextEncodingTest, WideToUtf8RoundTripsAndReplacesLoneSurrogates) {
  EXPECT_EQ(WideToUtf8(Utf8ToWide("J\xC3\xB6rg \xF0\x9F\x98\x80")), "J\xC3\xB6rg \xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace pelno
