#include "flutter/standard_codec_wire.h"

#include <bit>
#include <cstring>
#include <type_traits>
#include <variant>

namespace flutter::internal {

static_assert(std::endian::native == std::endian::little,
              "the standard codec copies little-endian numbers as they lie in memory");

namespace {

enum Type : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // legacy: a number as text; refused
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

constexpr uint8_t kSize16 = 254;
constexpr uint8_t kSize32 = 255;

}  // namespace

// ---- writing ----

void StandardCodecWriter::WriteBytes(const void* data, size_t size) {
  if (size == 0) {
    return;
  }
  const auto* begin = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), begin, begin + size);
}

void StandardCodecWriter::WriteSize(size_t size) {
  if (size < kSize16) {
    WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    WriteByte(kSize16);
    const uint16_t value = static_cast<uint16_t>(size);
    WriteBytes(&value, sizeof(value));
  } else {
    WriteByte(kSize32);
    const uint32_t value = static_cast<uint32_t>(size);
    WriteBytes(&value, sizeof(value));
  }
}

void StandardCodecWriter::WriteAlignment(size_t alignment) {
  const size_t remainder = bytes_.size() % alignment;
  if (remainder != 0) {
    bytes_.insert(bytes_.end(), alignment - remainder, 0);
  }
}

template <typename T>
void StandardCodecWriter::WriteTypedList(uint8_t type, const std::vector<T>& list) {
  WriteByte(type);
  WriteSize(list.size());
  if constexpr (sizeof(T) > 1) {
    WriteAlignment(sizeof(T));
  }
  WriteBytes(list.data(), list.size() * sizeof(T));
}

void StandardCodecWriter::WriteValue(const EncodableValue& value) {
  std::visit(
      [this](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          WriteByte(kNull);
        } else if constexpr (std::is_same_v<T, bool>) {
          WriteByte(v ? kTrue : kFalse);
        } else if constexpr (std::is_same_v<T, int32_t>) {
          WriteByte(kInt32);
          WriteBytes(&v, sizeof(v));
        } else if constexpr (std::is_same_v<T, int64_t>) {
          WriteByte(kInt64);
          WriteBytes(&v, sizeof(v));
        } else if constexpr (std::is_same_v<T, double>) {
          WriteByte(kFloat64);
          WriteAlignment(8);
          WriteBytes(&v, sizeof(v));
        } else if constexpr (std::is_same_v<T, std::string>) {
          WriteByte(kString);
          WriteSize(v.size());
          WriteBytes(v.data(), v.size());
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
          WriteTypedList(kUInt8List, v);
        } else if constexpr (std::is_same_v<T, std::vector<int32_t>>) {
          WriteTypedList(kInt32List, v);
        } else if constexpr (std::is_same_v<T, std::vector<int64_t>>) {
          WriteTypedList(kInt64List, v);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          WriteTypedList(kFloat64List, v);
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          WriteTypedList(kFloat32List, v);
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          WriteByte(kList);
          WriteSize(v.size());
          for (const EncodableValue& element : v) {
            WriteValue(element);
          }
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          WriteByte(kMap);
          WriteSize(v.size());
          for (const auto& [key, element] : v) {
            WriteValue(key);
            WriteValue(element);
          }
        } else {
          static_assert(std::is_same_v<T, CustomEncodableValue>);
          // The standard format has no type for application values: written as
          // null, so the message stays well formed.
          WriteByte(kNull);
        }
      },
      static_cast<const EncodableValue::super&>(value));
}

// ---- reading ----

bool StandardCodecReader::ReadBytes(void* out, size_t size) {
  if (size > size_ - offset_) {
    return false;
  }
  if (size > 0) {
    std::memcpy(out, data_ + offset_, size);
    offset_ += size;
  }
  return true;
}

bool StandardCodecReader::ReadByte(uint8_t& byte) { return ReadBytes(&byte, 1); }

bool StandardCodecReader::ReadSize(size_t& size) {
  uint8_t first = 0;
  if (!ReadByte(first)) {
    return false;
  }
  if (first < kSize16) {
    size = first;
    return true;
  }
  if (first == kSize16) {
    uint16_t value = 0;
    if (!ReadBytes(&value, sizeof(value))) return false;
    size = value;
    return true;
  }
  uint32_t value = 0;
  if (!ReadBytes(&value, sizeof(value))) return false;
  size = value;
  return true;
}

bool StandardCodecReader::SkipAlignment(size_t alignment) {
  const size_t remainder = offset_ % alignment;
  if (remainder == 0) {
    return true;
  }
  const size_t padding = alignment - remainder;
  if (padding > size_ - offset_) {
    return false;
  }
  offset_ += padding;
  return true;
}

template <typename T>
bool StandardCodecReader::ReadTypedList(size_t alignment, EncodableValue& value) {
  size_t count = 0;
  if (!ReadSize(count)) return false;
  if (alignment > 1 && !SkipAlignment(alignment)) return false;
  if (count > (size_ - offset_) / sizeof(T)) return false;
  std::vector<T> list(count);
  if (!ReadBytes(list.data(), count * sizeof(T))) return false;
  value = std::move(list);
  return true;
}

bool StandardCodecReader::ReadValueAt(EncodableValue& value, int depth) {
  if (depth > kMaxNesting) {
    return false;
  }
  uint8_t type = 0;
  if (!ReadByte(type)) {
    return false;
  }
  switch (type) {
    case kNull:
      value = EncodableValue();
      return true;
    case kTrue:
      value = true;
      return true;
    case kFalse:
      value = false;
      return true;
    case kInt32: {
      int32_t number = 0;
      if (!ReadBytes(&number, sizeof(number))) return false;
      value = number;
      return true;
    }
    case kInt64: {
      int64_t number = 0;
      if (!ReadBytes(&number, sizeof(number))) return false;
      value = number;
      return true;
    }
    case kFloat64: {
      double number = 0;
      if (!SkipAlignment(8) || !ReadBytes(&number, sizeof(number))) return false;
      value = number;
      return true;
    }
    case kString: {
      size_t length = 0;
      if (!ReadSize(length) || length > size_ - offset_) return false;
      value = std::string(reinterpret_cast<const char*>(data_ + offset_), length);
      offset_ += length;
      return true;
    }
    case kUInt8List:
      return ReadTypedList<uint8_t>(1, value);
    case kInt32List:
      return ReadTypedList<int32_t>(4, value);
    case kInt64List:
      return ReadTypedList<int64_t>(8, value);
    case kFloat64List:
      return ReadTypedList<double>(8, value);
    case kFloat32List:
      return ReadTypedList<float>(4, value);
    case kList: {
      size_t count = 0;
      // Every element takes at least one byte.
      if (!ReadSize(count) || count > size_ - offset_) return false;
      EncodableList list;
      list.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        if (!ReadValueAt(list.emplace_back(), depth + 1)) return false;
      }
      value = std::move(list);
      return true;
    }
    case kMap: {
      size_t count = 0;
      if (!ReadSize(count) || count > (size_ - offset_) / 2) return false;
      EncodableMap map;
      for (size_t i = 0; i < count; ++i) {
        EncodableValue key;
        if (!ReadValueAt(key, depth + 1)) return false;
        // Keys usually arrive in order, so the end is the hint; a repeated key
        // keeps its last value.
        const auto entry = map.emplace_hint(map.end(), std::move(key), EncodableValue());
        if (!ReadValueAt(entry->second, depth + 1)) return false;
      }
      value = std::move(map);
      return true;
    }
    case kLargeInt:
    default:
      return false;
  }
}

}  // namespace flutter::internal
