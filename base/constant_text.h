// Texts joined at compile time: a constant that names one fact (a program's name,
// a port) is spelled once and built into the texts that mention it. Each text is a
// zero-terminated std::array; data() gives the C string.
#pragma once

#include <array>
#include <cstddef>

namespace pelno::constant_text {

template <typename Char, std::size_t N>
constexpr std::array<Char, N> Of(const Char (&text)[N]) {
  std::array<Char, N> result{};
  for (std::size_t i = 0; i < N; ++i) result[i] = text[i];
  return result;
}

template <typename Char, std::size_t A, std::size_t B>
constexpr std::array<Char, A + B - 1> Join(const std::array<Char, A>& first, const std::array<Char, B>& second) {
  std::array<Char, A + B - 1> result{};
  for (std::size_t i = 0; i + 1 < A; ++i) result[i] = first[i];
  for (std::size_t i = 0; i < B; ++i) result[A - 1 + i] = second[i];
  return result;
}

template <typename Char, std::size_t A, std::size_t B>
constexpr std::array<Char, A + B - 1> Join(const std::array<Char, A>& first, const Char (&second)[B]) {
  return Join(first, Of(second));
}

template <typename Char, std::size_t A, std::size_t B>
constexpr std::array<Char, A + B - 1> Join(const Char (&first)[A], const std::array<Char, B>& second) {
  return Join(Of(first), second);
}

// An ASCII text as wide characters.
template <std::size_t N>
constexpr std::array<wchar_t, N> Widen(const std::array<char, N>& text) {
  std::array<wchar_t, N> result{};
  for (std::size_t i = 0; i < N; ++i) result[i] = static_cast<wchar_t>(text[i]);
  return result;
}

constexpr std::size_t DecimalDigits(unsigned long long value) {
  std::size_t digits = 1;
  for (; value >= 10; value /= 10) ++digits;
  return digits;
}

// `Value` in decimal digits.
template <unsigned long long Value>
constexpr std::array<char, DecimalDigits(Value) + 1> Decimal() {
  std::array<char, DecimalDigits(Value) + 1> result{};
  unsigned long long rest = Value;
  for (std::size_t i = DecimalDigits(Value); i > 0; --i, rest /= 10) result[i - 1] = static_cast<char>('0' + rest % 10);
  return result;
}

}  // namespace pelno::constant_text
