// The byte format of the standard codec: one type byte per value, then its
// data; little-endian numbers; sizes in 1, 3 or 5 bytes; typed lists and
// doubles aligned to their element size from the start of the whole message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "flutter/encodable_value.h"

namespace flutter::internal {

// Appends values to a message that may already hold bytes (alignment counts
// from the first byte of `bytes`).
class StandardCodecWriter {
 public:
  explicit StandardCodecWriter(std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  void WriteValue(const EncodableValue& value);
  void WriteByte(uint8_t byte) { bytes_.push_back(byte); }

 private:
  void WriteSize(size_t size);
  void WriteAlignment(size_t alignment);
  void WriteBytes(const void* data, size_t size);
  template <typename T>
  void WriteTypedList(uint8_t type, const std::vector<T>& list);

  std::vector<uint8_t>& bytes_;
};

// Reads values from a message, refusing anything malformed: unknown or legacy
// types, sizes beyond the data, nesting deeper than kMaxNesting.
class StandardCodecReader {
 public:
  static constexpr int kMaxNesting = 256;

  StandardCodecReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ReadValue(EncodableValue& value) { return ReadValueAt(value, 0); }
  bool ReadByte(uint8_t& byte);
  bool AtEnd() const { return offset_ == size_; }

 private:
  bool ReadValueAt(EncodableValue& value, int depth);
  bool ReadSize(size_t& size);
  bool SkipAlignment(size_t alignment);
  bool ReadBytes(void* out, size_t size);
  template <typename T>
  bool ReadTypedList(size_t alignment, EncodableValue& value);

  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace flutter::internal
