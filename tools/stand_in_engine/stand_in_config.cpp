#include "tools/stand_in_engine/stand_in_config.h"

#include <nlohmann/json.hpp>

#include "tools/stand_in_engine/http_message.h"

namespace pelno {
namespace {

// Keeps the members in document order, so errors name the first bad key.
using Json = nlohmann::ordered_json;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The member with that key (the last one when a key repeats), or null.
const Json* Find(const Json& object, std::string_view key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// The value when the number was written as an integer within int64 range.
std::optional<int64_t> AsInt64(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<uint64_t>();
    if (n <= static_cast<uint64_t>(INT64_MAX)) return static_cast<int64_t>(n);
    return std::nullopt;
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  return std::nullopt;
}

bool ReadString(const Json& object, std::string_view key, std::string& out, std::string& error) {
  const Json* v = Find(object, key);
  if (v == nullptr) return true;
  if (!v->is_string()) {
    error = "\"" + std::string(key) + "\" must be a string";
    return false;
  }
  out = v->get<std::string>();
  return true;
}

bool ReadInteger(const Json& object, std::string_view key, int64_t min, int64_t max,
                 std::optional<int64_t>& out, std::string& error) {
  const Json* v = Find(object, key);
  if (v == nullptr) return true;
  std::optional<int64_t> n = AsInt64(*v);
  if (!n || *n < min || *n > max) {
    error = "\"" + std::string(key) + "\" must be an integer from " + std::to_string(min) + " to " +
            std::to_string(max);
    return false;
  }
  out = n;
  return true;
}

// An address the stand-in can bind: IPv4 literals are kept, anything else
// (host names, IPv6, empty) is served on the loopback address.
std::string BindableAddress(std::string_view host) {
  return IsIpv4Literal(host) ? std::string(host) : std::string(kDefaultListenAddress);
}

bool ReadController(const Json& root, StandInConfig& config, std::string& error) {
  const Json* experimental = Find(root, "experimental");
  if (experimental == nullptr || !experimental->is_object()) return true;
  const Json* api = Find(*experimental, "clash_api");
  if (api == nullptr || !api->is_object()) return true;
  std::string address;
  if (!ReadString(*api, "external_controller", address, error)) return false;
  if (address.empty()) return true;  // absent, or an empty value that disables the API
  std::string host;
  uint16_t port = 0;
  if (!SplitHostPort(address, host, port)) {
    error = "\"external_controller\" must be host:port, got \"" + address + "\"";
    return false;
  }
  config.controller = ListenEndpoint{BindableAddress(host), port};
  return true;
}

bool ReadInbounds(const Json& root, StandInConfig& config, std::string& error) {
  const Json* inbounds = Find(root, "inbounds");
  if (inbounds == nullptr) return true;
  if (!inbounds->is_array()) {
    error = "\"inbounds\" must be an array";
    return false;
  }
  for (const Json& inbound : *inbounds) {
    if (!inbound.is_object()) {
      error = "each inbound must be an object";
      return false;
    }
    std::string type, tag, listen;
    if (!ReadString(inbound, "type", type, error) || !ReadString(inbound, "tag", tag, error) ||
        !ReadString(inbound, "listen", listen, error)) {
      return false;
    }
    if (type != "mixed" && type != "http" && tag != kMixedInboundTag) continue;
    std::optional<int64_t> port;
    if (!ReadInteger(inbound, "listen_port", 1, 65535, port, error)) return false;
    if (!port) continue;
    config.proxy_inbounds.push_back(ListenEndpoint{
        listen.empty() ? std::string(kDefaultListenAddress) : BindableAddress(listen),
        static_cast<uint16_t>(*port)});
  }
  return true;
}

bool ReadOutbounds(const Json& root, StandInConfig& config, std::string& error) {
  const Json* outbounds = Find(root, "outbounds");
  if (outbounds == nullptr) return true;
  if (!outbounds->is_array()) {
    error = "\"outbounds\" must be an array";
    return false;
  }
  for (const Json& outbound : *outbounds) {
    if (!outbound.is_object()) {
      error = "each outbound must be an object";
      return false;
    }
    std::string type, tag;
    if (!ReadString(outbound, "type", type, error) || !ReadString(outbound, "tag", tag, error)) {
      return false;
    }
    if (tag.empty()) continue;
    if (config.outbound_types.count(tag) != 0) {
      error = "duplicate outbound tag \"" + tag + "\"";
      return false;
    }
    config.outbound_types[tag] = type;
  }
  return true;
}

bool ReadScriptedFetch(const Json& fetch, StandInScript& script, std::string& error) {
  if (!fetch.is_object()) {
    error = "\"stand_in\".\"fetch\" must be an object";
    return false;
  }
  for (const auto& [tag, entry] : fetch.items()) {
    if (!entry.is_object()) {
      error = "\"stand_in\".\"fetch\".\"" + tag + "\" must be an object";
      return false;
    }
    ScriptedFetch scripted;
    for (const auto& [key, value] : entry.items()) {
      if (key == "delay_ms") {
        std::optional<int64_t> delay;
        if (!ReadInteger(entry, "delay_ms", 0, kMaxScriptedDelayMs, delay, error)) return false;
        scripted.delay_ms = *delay;
      } else if (key == "fail") {
        if (!value.is_boolean()) {
          error = "\"fail\" must be true or false";
          return false;
        }
        scripted.fail = value.get<bool>();
      } else {
        error = "unknown key \"" + key + "\" in \"stand_in\".\"fetch\".\"" + tag + "\"";
        return false;
      }
    }
    script.fetch[tag] = scripted;
  }
  return true;
}

bool ReadScript(const Json& root, StandInScript& script, std::string& error) {
  const Json* stand_in = Find(root, "stand_in");
  if (stand_in == nullptr) return true;
  if (!stand_in->is_object()) {
    error = "\"stand_in\" must be an object";
    return false;
  }
  for (const auto& [key, value] : stand_in->items()) {
    std::optional<int64_t> n;
    if (key == "stdout") {
      if (!ReadString(*stand_in, key, script.stdout_text, error)) return false;
    } else if (key == "stderr") {
      if (!ReadString(*stand_in, key, script.stderr_text, error)) return false;
    } else if (key == "record_file") {
      if (!ReadString(*stand_in, key, script.record_file, error)) return false;
    } else if (key == "fetch_end_file") {
      if (!ReadString(*stand_in, key, script.fetch_end_file, error)) return false;
    } else if (key == "output_repeat") {
      if (!ReadInteger(*stand_in, key, 0, static_cast<int64_t>(kMaxScriptedOutputBytes), n,
                       error)) {
        return false;
      }
      script.output_repeat = *n;
    } else if (key == "exit_code") {
      // Exit codes are 32-bit unsigned; negative values give their two's complement.
      if (!ReadInteger(*stand_in, key, INT32_MIN, UINT32_MAX, n, error)) return false;
      script.exit_code = static_cast<uint32_t>(*n);
    } else if (key == "exit_after_ms") {
      if (!ReadInteger(*stand_in, key, 0, kMaxScriptedDelayMs, n, error)) return false;
      script.exit_after_ms = n;
    } else if (key == "output_holder_ms") {
      if (!ReadInteger(*stand_in, key, 0, kMaxScriptedDelayMs, n, error)) return false;
      script.output_holder_ms = n;
    } else if (key == "fetch") {
      if (!ReadScriptedFetch(value, script, error)) return false;
    } else {
      error = "unknown key \"" + key + "\" in \"stand_in\"";
      return false;
    }
  }
  // Sizes are at most a config file's length and output_repeat is capped, so the
  // product cannot overflow 64 bits.
  uint64_t total = static_cast<uint64_t>(script.output_repeat) * script.stdout_text.size() +
                   script.stderr_text.size();
  if (total > kMaxScriptedOutputBytes) {
    error = "scripted output larger than " + std::to_string(kMaxScriptedOutputBytes) + " bytes";
    return false;
  }
  return true;
}

}  // namespace

bool ParseStandInConfig(std::string_view text, StandInConfig& config, std::string& error) {
  // The library would skip a byte-order mark; the engine refuses it.
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    error = "a byte-order mark is not JSON";
    return false;
  }
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& e) {
    error = e.what();  // names the line and column
    return false;
  }
  if (!root.is_object()) {
    error = "the configuration must be a JSON object";
    return false;
  }
  StandInConfig result;
  if (!ReadController(root, result, error) || !ReadInbounds(root, result, error) ||
      !ReadOutbounds(root, result, error) || !ReadScript(root, result.script, error)) {
    return false;
  }
  config = std::move(result);
  return true;
}

}  // namespace pelno
