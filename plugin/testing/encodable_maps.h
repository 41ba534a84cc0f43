// Short spellings of the user interface's maps in tests.
#pragma once

#include <initializer_list>
#include <utility>

#include "flutter/encodable_value.h"

namespace pelno::testing {

using flutter::EncodableValue;

// A map with string keys, as the plug-in's arguments and replies are.
inline EncodableValue Map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  flutter::EncodableMap map;
  for (const auto& [key, value] : entries) map[EncodableValue(key)] = value;
  return EncodableValue(std::move(map));
}
inline const flutter::EncodableMap& Entries(const EncodableValue& map) { return std::get<flutter::EncodableMap>(map); }

}  // namespace pelno::testing
