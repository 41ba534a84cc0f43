#include "flutter/stand_in_engine/bridge_frames.h"

#include <nlohmann/json.hpp>

namespace pelno::stand_in {
namespace {

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void Append16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Writes the length prefix once the body is complete.
std::vector<std::uint8_t> Finish(std::vector<std::uint8_t> frame) {
  const auto length = static_cast<std::uint32_t>(frame.size() - 4);
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(length >> (8 * i));
  return frame;
}

nlohmann::ordered_json TextOrNull(const std::optional<std::string>& text) {
  return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

}  // namespace

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::optional<ChannelMessage> ParseChannelMessage(const std::uint8_t* frame, std::size_t size) {
  constexpr std::size_t kHead = 1 + 4 + 2;
  if (size < kHead || frame[0] != kChannelMessageKind) return std::nullopt;
  const std::size_t nameLength = frame[5] | static_cast<std::size_t>(frame[6]) << 8;
  if (size - kHead < nameLength) return std::nullopt;
  ChannelMessage message;
  message.id = ReadLittleEndian32(frame + 1);
  message.channel.assign(reinterpret_cast<const char*>(frame + kHead), nameLength);
  message.message.assign(frame + kHead + nameLength, frame + size);
  return message;
}

std::vector<std::uint8_t> MakeReplyFrame(std::uint32_t id, const std::uint8_t* reply, std::size_t size) {
  std::vector<std::uint8_t> frame(4);
  frame.reserve(4 + 1 + 4 + size);
  frame.push_back(kReplyKind);
  Append32(frame, id);
  if (size) frame.insert(frame.end(), reply, reply + size);
  return Finish(std::move(frame));
}

std::vector<std::uint8_t> MakeNativeMessageFrame(std::string_view channel, const std::uint8_t* message,
                                                 std::size_t size) {
  if (channel.size() > 0xFFFF) return {};
  std::vector<std::uint8_t> frame(4);
  frame.reserve(4 + 1 + 2 + channel.size() + size);
  frame.push_back(kNativeMessageKind);
  Append16(frame, static_cast<std::uint16_t>(channel.size()));
  frame.insert(frame.end(), channel.begin(), channel.end());
  if (size) frame.insert(frame.end(), message, message + size);
  return Finish(std::move(frame));
}

std::vector<std::uint8_t> MakeReceivedPropertiesFrame(const ReceivedProperties& properties) {
  const nlohmann::ordered_json report = {
      {"assets_path", TextOrNull(properties.assetsPath)},
      {"icu_data_path", TextOrNull(properties.icuDataPath)},
      {"aot_library_path", TextOrNull(properties.aotLibraryPath)},
      {"dart_entrypoint", TextOrNull(properties.dartEntrypoint)},
      {"dart_entrypoint_argv", properties.dartEntrypointArguments},
      {"gpu_preference", properties.gpuPreference},
      {"ui_thread_policy", properties.uiThreadPolicy},
      {"run_entry_point", TextOrNull(properties.runEntryPoint)},
  };
  const std::string body = report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::vector<std::uint8_t> frame(4);
  frame.reserve(4 + 1 + body.size());
  frame.push_back(kReceivedPropertiesKind);
  frame.insert(frame.end(), body.begin(), body.end());
  return Finish(std::move(frame));
}

}  // namespace pelno::stand_in
