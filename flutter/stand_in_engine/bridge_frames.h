// Frames of the UI bridge: a 4-byte little-endian length L, then L bytes whose
// first byte is the kind.
//   1  client -> application: id (4 bytes LE), channel name length (2 bytes LE),
//      channel name (UTF-8), message bytes
//   2  application -> client: the id of a kind 1 frame, then the reply bytes
//   3  application -> client: channel name length (2 bytes LE), channel name,
//      message bytes
//   4  client -> application: nothing more (length 1); answered with a kind 4
//      frame whose body is one UTF-8 JSON object: what the engine was created
//      and run with (see ReceivedProperties)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelno::stand_in {

inline constexpr std::uint8_t kChannelMessageKind = 1;
inline constexpr std::uint8_t kReplyKind = 2;
inline constexpr std::uint8_t kNativeMessageKind = 3;
inline constexpr std::uint8_t kReceivedPropertiesKind = 4;
// A frame announcing more than this is refused and ends the client's session.
inline constexpr std::uint32_t kMaxFrameBytes = 16u << 20;

struct ChannelMessage {
  std::uint32_t id = 0;
  std::string channel;
  std::vector<std::uint8_t> message;
};

// What FlutterDesktopEngineCreate and FlutterDesktopEngineRun were given; null
// pointers stay null. Paths are UTF-8; texts are the bytes received.
struct ReceivedProperties {
  std::optional<std::string> assetsPath, icuDataPath, aotLibraryPath;
  std::optional<std::string> dartEntrypoint;
  std::vector<std::string> dartEntrypointArguments;
  int gpuPreference = 0;
  int uiThreadPolicy = 0;
  std::optional<std::string> runEntryPoint;
};

// The frame's L bytes (kind byte first); nullopt when it is not a whole kind 1 frame.
std::optional<ChannelMessage> ParseChannelMessage(const std::uint8_t* frame, std::size_t size);

// Whole frames, length prefix included.
std::vector<std::uint8_t> MakeReplyFrame(std::uint32_t id, const std::uint8_t* reply, std::size_t size);
// Empty when the channel name does not fit its 2-byte length.
std::vector<std::uint8_t> MakeNativeMessageFrame(std::string_view channel, const std::uint8_t* message,
                                                 std::size_t size);

// The kind 4 answer: {"assets_path", "icu_data_path", "aot_library_path",
// "dart_entrypoint", "dart_entrypoint_argv", "gpu_preference", "ui_thread_policy",
// "run_entry_point"}. Bytes that are not UTF-8 become U+FFFD.
std::vector<std::uint8_t> MakeReceivedPropertiesFrame(const ReceivedProperties& properties);

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes);

}  // namespace pelno::stand_in
