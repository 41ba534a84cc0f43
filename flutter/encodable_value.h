// EncodableValue: the values that travel over the standard codec.
#pragma once

#include <algorithm>
#include <any>
#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

// A value of an application-defined type. The standard codec cannot write one;
// a codec that knows the type can. Two custom values compare by identity.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(const std::any& value) : value_(value) {}
  ~CustomEncodableValue() = default;

  // The wrapped value, for std::any_cast.
  operator std::any&() { return value_; }
  operator const std::any&() const { return value_; }
  const std::type_info& type() const { return value_.type(); }

  bool operator==(const CustomEncodableValue& other) const { return this == &other; }
  std::partial_ordering operator<=>(const CustomEncodableValue& other) const {
    return std::compare_three_way()(this, &other);
  }

 private:
  std::any value_;
};

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

namespace internal {
// The order of the alternatives is part of the interface (index() is stable).
using EncodableValueVariant = std::variant<std::monostate,
                                           bool,
                                           int32_t,
                                           int64_t,
                                           double,
                                           std::string,
                                           std::vector<uint8_t>,
                                           std::vector<int32_t>,
                                           std::vector<int64_t>,
                                           std::vector<double>,
                                           EncodableList,
                                           EncodableMap,
                                           CustomEncodableValue,
                                           std::vector<float>>;
}  // namespace internal

class EncodableValue : public internal::EncodableValueVariant {
 public:
  using super = internal::EncodableValueVariant;
  using super::super;
  using super::operator=;

  EncodableValue() = default;

  // A string literal is a string, never a bool.
  explicit EncodableValue(const char* string) : super(std::string(string)) {}
  EncodableValue& operator=(const char* other) {
    *this = std::string(other);
    return *this;
  }

  // Either integer alternative as 64 bits; std::bad_variant_access otherwise.
  int64_t LongValue() const {
    if (std::holds_alternative<int32_t>(*this)) {
      return std::get<int32_t>(*this);
    }
    return std::get<int64_t>(*this);
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // Map keys order by alternative first, then by value (lists and maps
  // element by element). Declaring the comparison here, not through the
  // variant's own, also keeps C++20's operator<=> lookup from recursing through
  // EncodableList.
  friend std::partial_ordering operator<=>(const EncodableValue& lhs, const EncodableValue& rhs);
  friend bool operator<(const EncodableValue& lhs, const EncodableValue& rhs) {
    return (lhs <=> rhs) < 0;
  }
  friend bool operator==(const EncodableValue& lhs, const EncodableValue& rhs) {
    return static_cast<const super&>(lhs) == static_cast<const super&>(rhs);
  }
  friend bool operator!=(const EncodableValue& lhs, const EncodableValue& rhs) {
    return !(lhs == rhs);
  }
};

namespace internal {

template <typename T>
std::partial_ordering EncodableCompare(const T& lhs, const T& rhs) {
  if constexpr (std::is_same_v<T, EncodableMap>) {
    return std::lexicographical_compare_three_way(
        lhs.begin(), lhs.end(), rhs.begin(), rhs.end(),
        [](const auto& a, const auto& b) -> std::partial_ordering {
          const std::partial_ordering keys = a.first <=> b.first;
          return keys != 0 ? keys : a.second <=> b.second;
        });
  } else if constexpr (std::is_same_v<T, EncodableList>) {
    return std::lexicographical_compare_three_way(
        lhs.begin(), lhs.end(), rhs.begin(), rhs.end(),
        [](const EncodableValue& a, const EncodableValue& b) { return a <=> b; });
  } else {
    return lhs <=> rhs;
  }
}

}  // namespace internal

inline std::partial_ordering operator<=>(const EncodableValue& lhs, const EncodableValue& rhs) {
  if (lhs.index() != rhs.index()) {
    return lhs.index() <=> rhs.index();
  }
  return std::visit(
      [&rhs](const auto& left) {
        using T = std::decay_t<decltype(left)>;
        return internal::EncodableCompare<T>(left, std::get<T>(rhs));
      },
      static_cast<const EncodableValue::super&>(lhs));
}

}  // namespace flutter
