#include "tools/stand_in_engine/json_value.h"

#include <charconv>
#include <cstdlib>

namespace pelno {

JsonValue JsonValue::Bool(bool value) {
  JsonValue v;
  v.type_ = Type::kBool;
  v.bool_ = value;
  return v;
}

JsonValue JsonValue::Number(double value, std::optional<int64_t> integer) {
  JsonValue v;
  v.type_ = Type::kNumber;
  v.number_ = value;
  v.integer_ = integer;
  return v;
}

JsonValue JsonValue::String(std::string value) {
  JsonValue v;
  v.type_ = Type::kString;
  v.string_ = std::move(value);
  return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items) {
  JsonValue v;
  v.type_ = Type::kArray;
  v.items_ = std::move(items);
  return v;
}

JsonValue JsonValue::Object(std::vector<Member> members) {
  JsonValue v;
  v.type_ = Type::kObject;
  v.members_ = std::move(members);
  return v;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
  const JsonValue* found = nullptr;
  for (const Member& member : members_) {
    if (member.first == key) found = &member.second;
  }
  return found;
}

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool ParseDocument(JsonValue& value, std::string& error) {
    SkipWhitespace();
    if (!ParseValue(value, 0)) {
      error = error_;
      return false;
    }
    SkipWhitespace();
    if (pos_ != text_.size()) {
      Fail("unexpected data after the JSON value");
      error = error_;
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* what) {
    error_ = std::string(what) + " at offset " + std::to_string(pos_);
    return false;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipWhitespace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
      ++pos_;
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("invalid literal");
    pos_ += word.size();
    return true;
  }

  bool ParseValue(JsonValue& value, int depth) {
    if (depth >= kMaxJsonDepth) return Fail("nesting too deep");
    if (AtEnd()) return Fail("unexpected end of input");
    switch (Peek()) {
      case '{':
        return ParseObject(value, depth);
      case '[':
        return ParseArray(value, depth);
      case '"': {
        std::string s;
        if (!ParseString(s)) return false;
        value = JsonValue::String(std::move(s));
        return true;
      }
      case 't':
        if (!Literal("true")) return false;
        value = JsonValue::Bool(true);
        return true;
      case 'f':
        if (!Literal("false")) return false;
        value = JsonValue::Bool(false);
        return true;
      case 'n':
        if (!Literal("null")) return false;
        value = JsonValue::Null();
        return true;
      default:
        if (Peek() == '-' || IsDigit(Peek())) return ParseNumber(value);
        return Fail("unexpected character");
    }
  }

  bool ParseObject(JsonValue& value, int depth) {
    ++pos_;  // '{'
    std::vector<JsonValue::Member> members;
    SkipWhitespace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      value = JsonValue::Object(std::move(members));
      return true;
    }
    while (true) {
      SkipWhitespace();
      if (AtEnd() || Peek() != '"') return Fail("expected a member name");
      std::string key;
      if (!ParseString(key)) return false;
      SkipWhitespace();
      if (AtEnd() || Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipWhitespace();
      JsonValue member;
      if (!ParseValue(member, depth + 1)) return false;
      members.emplace_back(std::move(key), std::move(member));
      SkipWhitespace();
      if (AtEnd()) return Fail("unterminated object");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        value = JsonValue::Object(std::move(members));
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ParseArray(JsonValue& value, int depth) {
    ++pos_;  // '['
    std::vector<JsonValue> items;
    SkipWhitespace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      value = JsonValue::Array(std::move(items));
      return true;
    }
    while (true) {
      SkipWhitespace();
      JsonValue item;
      if (!ParseValue(item, depth + 1)) return false;
      items.push_back(std::move(item));
      SkipWhitespace();
      if (AtEnd()) return Fail("unterminated array");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        value = JsonValue::Array(std::move(items));
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool ParseHex4(uint32_t& unit) {
    if (text_.size() - pos_ < 4) return Fail("truncated \\u escape");
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_ + i];
      unit <<= 4;
      if (c >= '0' && c <= '9')
        unit |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        unit |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        unit |= static_cast<uint32_t>(c - 'A' + 10);
      else
        return Fail("invalid \\u escape");
    }
    pos_ += 4;
    return true;
  }

  // After "\u": one code unit, or a surrogate pair written as two escapes. A
  // surrogate without its partner becomes U+FFFD.
  bool ParseUnicodeEscape(std::string& out) {
    uint32_t unit;
    if (!ParseHex4(unit)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (text_.substr(pos_, 2) == "\\u") {
        size_t saved = pos_;
        pos_ += 2;
        uint32_t low;
        if (!ParseHex4(low)) return false;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          return true;
        }
        pos_ = saved;  // the second escape is parsed again on its own
      }
      AppendUtf8(out, kReplacementCharacter);
      return true;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) unit = kReplacementCharacter;
    AppendUtf8(out, unit);
    return true;
  }

  bool ParseString(std::string& out) {
    ++pos_;  // opening quote
    while (true) {
      if (AtEnd()) return Fail("unterminated string");
      char c = Peek();
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in string");
      if (c != '\\') {
        out += c;
        ++pos_;
        continue;
      }
      ++pos_;
      if (AtEnd()) return Fail("unterminated escape");
      char e = Peek();
      ++pos_;
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u':
          if (!ParseUnicodeEscape(out)) return false;
          break;
        default:
          --pos_;
          return Fail("invalid escape");
      }
    }
  }

  bool ParseNumber(JsonValue& value) {
    size_t start = pos_;
    bool integral = true;
    if (Peek() == '-') ++pos_;
    if (AtEnd() || !IsDigit(Peek())) return Fail("invalid number");
    if (Peek() == '0') {
      ++pos_;
    } else {
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    if (!AtEnd() && Peek() == '.') {
      integral = false;
      ++pos_;
      if (AtEnd() || !IsDigit(Peek())) return Fail("invalid number");
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (AtEnd() || !IsDigit(Peek())) return Fail("invalid number");
      while (!AtEnd() && IsDigit(Peek())) ++pos_;
    }
    std::string literal(text_.substr(start, pos_ - start));
    double number = std::strtod(literal.c_str(), nullptr);
    std::optional<int64_t> integer;
    if (integral) {
      int64_t parsed = 0;
      auto result = std::from_chars(literal.data(), literal.data() + literal.size(), parsed);
      if (result.ec == std::errc() && result.ptr == literal.data() + literal.size())
        integer = parsed;
    }
    value = JsonValue::Number(number, integer);
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue& value, std::string& error) {
  Parser parser(text);
  JsonValue parsed;
  if (!parser.ParseDocument(parsed, error)) return false;
  value = std::move(parsed);
  return true;
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace pelno
