// A small, strict JSON reader for the stand-in engine's configuration files.
// It builds a tree of JsonValue nodes and never crashes on malformed input: every
// error ends the parse with a message that names the byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelno {

// Nesting deeper than this is refused, so hostile input cannot exhaust the stack.
inline constexpr int kMaxJsonDepth = 128;

class JsonValue {
 public:
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  using Member = std::pair<std::string, JsonValue>;

  JsonValue() = default;
  static JsonValue Null() { return JsonValue(); }
  static JsonValue Bool(bool value);
  static JsonValue Number(double value, std::optional<int64_t> integer);
  static JsonValue String(std::string value);
  static JsonValue Array(std::vector<JsonValue> items);
  static JsonValue Object(std::vector<Member> members);

  Type type() const { return type_; }
  bool IsNull() const { return type_ == Type::kNull; }
  bool IsBool() const { return type_ == Type::kBool; }
  bool IsNumber() const { return type_ == Type::kNumber; }
  bool IsString() const { return type_ == Type::kString; }
  bool IsArray() const { return type_ == Type::kArray; }
  bool IsObject() const { return type_ == Type::kObject; }

  bool AsBool() const { return bool_; }
  double AsDouble() const { return number_; }
  // The exact value when the number was written as an integer within int64 range.
  std::optional<int64_t> AsInt64() const { return integer_; }
  const std::string& AsString() const { return string_; }
  const std::vector<JsonValue>& Items() const { return items_; }
  const std::vector<Member>& Members() const { return members_; }

  // The member with that key (the last one when a key repeats), or null.
  const JsonValue* Find(std::string_view key) const;

 private:
  Type type_ = Type::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::optional<int64_t> integer_;
  std::string string_;
  std::vector<JsonValue> items_;
  std::vector<Member> members_;
};

// Parses one JSON text (RFC 8259: no comments, no trailing commas, nothing but
// white space after the value). On failure returns false and sets `error`.
bool ParseJson(std::string_view text, JsonValue& value, std::string& error);

// Writes `text` as a JSON string literal (with the quotes), escaping quote,
// backslash and every control byte; other bytes are copied as they are.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace pelno
