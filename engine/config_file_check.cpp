#include "engine/config_file_check.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

namespace pelno {
namespace {

using nlohmann::json;

constexpr std::string_view kRefusalPrefix = "Configuration refused: ";
constexpr std::string_view kRefusalReason = " must be a relative path inside the data directory";
constexpr std::string_view kUnreadable = "Configuration refused: the configuration is not valid JSON";
// A hostile key path is cut so the reply and the log line stay short.
constexpr std::size_t kKeyPathLimit = 200;
// The engine's decoder rejects deeper nesting; refusing it here also bounds the walk's memory.
constexpr std::size_t kMaxDepth = 10000;

// (keys of the containers, joined with '.'; the value's key), all folded.
constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kFileKeys = {{
    {"log", "output"},
    {"experimental.cache_file", "path"},
    {"experimental.clash_api", "external_ui"},
    {"route.rule_set", "path"},
    {"route.geoip", "path"},
    {"route.geosite", "path"},
    {"dns.servers", "path"},
}};

// Containers deeper than this many keys can match no listed key path.
constexpr std::size_t LongestFileKeyChain() {
  std::size_t longest = 0;
  for (const auto& entry : kFileKeys) {
    const std::string_view chain = entry.first;
    std::size_t keys = chain.empty() ? 0 : 1;
    for (const char c : chain) keys += c == '.' ? 1 : 0;
    longest = std::max(longest, keys);
  }
  return longest;
}
constexpr std::size_t kChainKeys = LongestFileKeyChain();

constexpr std::array<std::string_view, 4> kFileKeySuffixes = {"_path", "_directory", "_dir", "_file"};
constexpr std::string_view kMatcherKey = "process_path";

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The engine's decoder matches keys case-insensitively under Unicode simple folding,
// in which KELVIN SIGN stands for 'k' and LATIN SMALL LETTER LONG S for 's'.
std::string FoldKey(std::string_view key) {
  std::string folded;
  folded.reserve(key.size());
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    if (key.compare(i, 3, "\xE2\x84\xAA") == 0) {
      folded += 'k';
      i += 2;
    } else if (key.compare(i, 2, "\xC5\xBF") == 0) {
      folded += 's';
      i += 1;
    } else {
      folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return folded;
}

// `chain` is empty for no container key, nullopt when deeper than any listed path.
bool IsFileKey(std::optional<std::string_view> chain, std::string_view key) {
  for (const auto& [c, k] : kFileKeys)
    if (chain == c && key == k) return true;
  if (key == kMatcherKey) return false;
  for (const auto suffix : kFileKeySuffixes)
    if (EndsWith(key, suffix)) return true;
  return false;
}

// Names Windows opens as devices in any folder, also with an extension ("nul.txt").
bool IsReservedDeviceName(std::string_view segment) {
  std::string_view base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper;
  for (const char c : base) upper += AsciiUpper(c);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  const std::string_view number = std::string_view(upper).substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
         number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool IsRefusedCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7F) return true;
  return std::string_view(":*?\"<>|%$").find(c) != std::string_view::npos;
}

// Cut at kKeyPathLimit bytes on a character boundary; control characters shown as '?'.
std::string PrintableKeyPath(std::string_view path) {
  std::string shown;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (i >= kKeyPathLimit && (byte & 0xC0) != 0x80) return shown + "...";
    shown += (byte < 0x20 || byte == 0x7F) ? '?' : path[i];
  }
  return shown;
}

// Walks the parse events and stops at the first file-bearing string that fails the
// path rule. Work per event is bounded (the key chain is kept only as deep as a
// listed key path reaches), so a large or deeply nested text costs linear time.
class FileValueWalker : public nlohmann::json_sax<json> {
 public:
  std::optional<std::string> refusal;

  bool null() override { return Scalar(); }
  bool boolean(bool) override { return Scalar(); }
  bool number_integer(number_integer_t) override { return Scalar(); }
  bool number_unsigned(number_unsigned_t) override { return Scalar(); }
  bool number_float(number_float_t, const string_t&) override { return Scalar(); }
  bool binary(binary_t&) override { return Scalar(); }

  bool string(string_t& value) override {
    if (IsFileValue() && !IsPathInsideDataDirectory(value)) {
      refusal = std::string(kRefusalPrefix) + PrintableKeyPath(ValuePath()) + std::string(kRefusalReason);
      return false;
    }
    return Scalar();
  }

  bool key(string_t& key) override {
    key_ = key;
    foldedKey_ = FoldKey(key);
    return true;
  }

  bool start_object(std::size_t) override { return Open(false); }
  bool start_array(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  struct Frame {
    bool isArray = false;
    std::string segment;  // the key or "[i]" the container is reached by; empty at the top
    std::string chain;    // folded keys of the containers down to this one, joined by '.'
    std::size_t chainKeys = 0;  // beyond kChainKeys the chain is dropped
    bool fileList = false;      // an array holding file-bearing strings
    std::size_t nextIndex = 0;
  };

  bool InArray() const { return !stack_.empty() && stack_.back().isArray; }

  bool IsFileValue() const {
    if (stack_.empty()) return false;
    const Frame& top = stack_.back();
    if (top.isArray) return top.fileList;
    if (top.chainKeys > kChainKeys) return IsFileKey(std::nullopt, foldedKey_);
    return IsFileKey(top.chain, foldedKey_);
  }

  std::string ValuePath() const {
    std::string path;
    for (const Frame& frame : stack_) Append(path, frame.segment);
    Append(path, CurrentSegment());
    return path;
  }

  static void Append(std::string& path, const std::string& segment) {
    if (segment.empty()) return;
    if (!path.empty() && segment[0] != '[') path += '.';
    path += segment;
  }

  std::string CurrentSegment() const {
    if (stack_.empty()) return {};
    if (InArray()) return "[" + std::to_string(stack_.back().nextIndex) + "]";
    return key_.empty() ? std::string("\"\"") : key_;
  }

  bool Scalar() {
    if (InArray()) ++stack_.back().nextIndex;
    return true;
  }

  bool Open(bool isArray) {
    if (stack_.size() >= kMaxDepth) return false;
    Frame frame;
    frame.isArray = isArray;
    frame.segment = CurrentSegment();
    frame.fileList = isArray && IsFileValue();
    if (!stack_.empty()) {
      const Frame& parent = stack_.back();
      frame.chainKeys = parent.chainKeys;
      frame.chain = parent.chain;
      if (!parent.isArray && ++frame.chainKeys <= kChainKeys) {
        if (!frame.chain.empty()) frame.chain += '.';
        frame.chain += foldedKey_;
      } else if (frame.chainKeys > kChainKeys) {
        frame.chain.clear();
      }
    }
    Scalar();
    stack_.push_back(std::move(frame));
    return true;
  }

  bool Close() {
    stack_.pop_back();
    return true;
  }

  std::vector<Frame> stack_;
  std::string key_;
  std::string foldedKey_;
};

}  // namespace

bool IsPathInsideDataDirectory(std::string_view value) {
  if (value.empty()) return true;
  if (value[0] == '\\' || value[0] == '/' || value[0] == '~') return false;
  for (const char c : value)
    if (IsRefusedCharacter(c)) return false;
  bool named = false;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view segment = value.substr(start, end - start);
    start = end + 1;
    if (segment.empty() || segment == ".") continue;
    // Windows drops trailing dots and spaces, so "..", "... " or "a." name other things.
    if (segment.front() == ' ' || segment.back() == ' ' || segment.back() == '.') return false;
    if (IsReservedDeviceName(segment)) return false;
    named = true;
  }
  return named;
}

std::optional<std::string> CheckEngineConfiguration(std::string_view configText) {
  FileValueWalker walker;
  const bool read = json::sax_parse(configText.data(), configText.data() + configText.size(), &walker,
                                    nlohmann::json::input_format_t::json, /*strict=*/true,
                                    /*ignore_comments=*/true);
  if (walker.refusal) return walker.refusal;
  if (!read) return std::string(kUnreadable);
  return std::nullopt;
}

}  // namespace pelno
