#include "tools/stand_in_engine/stand_in_config.h"

#include "tools/stand_in_engine/http_message.h"

namespace pelno {
namespace {

bool ReadString(const JsonValue& object, std::string_view key, std::string& out,
                std::string& error) {
  const JsonValue* v = object.Find(key);
  if (v == nullptr) return true;
  if (!v->IsString()) {
    error = "\"" + std::string(key) + "\" must be a string";
    return false;
  }
  out = v->AsString();
  return true;
}

bool ReadInteger(const JsonValue& object, std::string_view key, int64_t min, int64_t max,
                 std::optional<int64_t>& out, std::string& error) {
  const JsonValue* v = object.Find(key);
  if (v == nullptr) return true;
  std::optional<int64_t> n = v->IsNumber() ? v->AsInt64() : std::nullopt;
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

bool ReadController(const JsonValue& root, StandInConfig& config, std::string& error) {
  const JsonValue* experimental = root.Find("experimental");
  if (experimental == nullptr || !experimental->IsObject()) return true;
  const JsonValue* api = experimental->Find("clash_api");
  if (api == nullptr || !api->IsObject()) return true;
  const JsonValue* controller = api->Find("external_controller");
  if (controller == nullptr) return true;
  if (!controller->IsString()) {
    error = "\"external_controller\" must be a string";
    return false;
  }
  if (controller->AsString().empty()) return true;  // an empty value disables the API
  std::string host;
  uint16_t port = 0;
  if (!SplitHostPort(controller->AsString(), host, port)) {
    error = "\"external_controller\" must be host:port, got \"" + controller->AsString() + "\"";
    return false;
  }
  config.controller = ListenEndpoint{BindableAddress(host), port};
  return true;
}

bool ReadInbounds(const JsonValue& root, StandInConfig& config, std::string& error) {
  const JsonValue* inbounds = root.Find("inbounds");
  if (inbounds == nullptr) return true;
  if (!inbounds->IsArray()) {
    error = "\"inbounds\" must be an array";
    return false;
  }
  for (const JsonValue& inbound : inbounds->Items()) {
    if (!inbound.IsObject()) {
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

bool ReadOutbounds(const JsonValue& root, StandInConfig& config, std::string& error) {
  const JsonValue* outbounds = root.Find("outbounds");
  if (outbounds == nullptr) return true;
  if (!outbounds->IsArray()) {
    error = "\"outbounds\" must be an array";
    return false;
  }
  for (const JsonValue& outbound : outbounds->Items()) {
    if (!outbound.IsObject()) {
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

bool ReadScriptedFetch(const JsonValue& fetch, StandInScript& script, std::string& error) {
  if (!fetch.IsObject()) {
    error = "\"stand_in\".\"fetch\" must be an object";
    return false;
  }
  for (const auto& [tag, entry] : fetch.Members()) {
    if (!entry.IsObject()) {
      error = "\"stand_in\".\"fetch\".\"" + tag + "\" must be an object";
      return false;
    }
    ScriptedFetch scripted;
    for (const auto& [key, value] : entry.Members()) {
      if (key == "delay_ms") {
        std::optional<int64_t> delay;
        if (!ReadInteger(entry, "delay_ms", 0, kMaxScriptedDelayMs, delay, error)) return false;
        scripted.delay_ms = *delay;
      } else if (key == "fail") {
        if (!value.IsBool()) {
          error = "\"fail\" must be true or false";
          return false;
        }
        scripted.fail = value.AsBool();
      } else {
        error = "unknown key \"" + key + "\" in \"stand_in\".\"fetch\".\"" + tag + "\"";
        return false;
      }
    }
    script.fetch[tag] = scripted;
  }
  return true;
}

bool ReadScript(const JsonValue& root, StandInScript& script, std::string& error) {
  const JsonValue* stand_in = root.Find("stand_in");
  if (stand_in == nullptr) return true;
  if (!stand_in->IsObject()) {
    error = "\"stand_in\" must be an object";
    return false;
  }
  for (const auto& [key, value] : stand_in->Members()) {
    std::optional<int64_t> n;
    if (key == "stdout") {
      if (!ReadString(*stand_in, key, script.stdout_text, error)) return false;
    } else if (key == "stderr") {
      if (!ReadString(*stand_in, key, script.stderr_text, error)) return false;
    } else if (key == "record_file") {
      if (!ReadString(*stand_in, key, script.record_file, error)) return false;
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

bool InterpretConfig(const JsonValue& root, StandInConfig& config, std::string& error) {
  if (!root.IsObject()) {
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

bool ParseStandInConfig(std::string_view text, StandInConfig& config, std::string& error) {
  JsonValue root;
  if (!ParseJson(text, root, error)) return false;
  return InterpretConfig(root, config, error);
}

}  // namespace pelno
