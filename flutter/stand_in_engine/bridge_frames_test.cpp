#include "flutter/stand_in_engine/bridge_frames.h"

#include <gtest/gtest.h>

namespace pelno::stand_in {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BridgeFrames, ChannelMessagesAreReadWholeOrRefused) {
  const struct { Bytes frame; bool parsed; std::uint32_t id; std::string channel; Bytes message; } cases[] = {
      {{1, 0x04, 0x03, 0x02, 0x01, 2, 0, 'a', 'b', 7, 8}, true, 0x01020304, "ab", {7, 8}},
      {{1, 9, 0, 0, 0, 0, 0}, true, 9, "", {}},  // empty name, no message bytes
      {{1, 1, 0, 0, 0, 3, 0, 'a', 'b'}, false},  // name longer than the frame
      {{2, 1, 0, 0, 0, 0, 0}, false},            // not a client frame
      {{1, 1, 0, 0, 0, 0}, false},               // cut inside the head
  };
  for (const auto& c : cases) {
    const auto parsed = ParseChannelMessage(c.frame.data(), c.frame.size());
    ASSERT_EQ(parsed.has_value(), c.parsed);
    if (!parsed) continue;
    EXPECT_EQ(parsed->id, c.id);
    EXPECT_EQ(parsed->channel, c.channel);
    EXPECT_EQ(parsed->message, c.message);
  }
}

TEST(BridgeFrames, OutgoingFramesCarryLengthKindAndFields) {
  const std::uint8_t reply[] = {0, 7};
  EXPECT_EQ(MakeReplyFrame(0x0A0B0C0D, reply, 2), (Bytes{7, 0, 0, 0, 2, 0x0D, 0x0C, 0x0B, 0x0A, 0, 7}));
  EXPECT_EQ(MakeReplyFrame(5, nullptr, 0), (Bytes{5, 0, 0, 0, 2, 5, 0, 0, 0}));
  EXPECT_EQ(MakeNativeMessageFrame("ch", reply, 2), (Bytes{7, 0, 0, 0, 3, 2, 0, 'c', 'h', 0, 7}));
  EXPECT_TRUE(MakeNativeMessageFrame(std::string(0x10000, 'x'), nullptr, 0).empty());
}

TEST(BridgeFrames, ReceivedPropertiesKeepNullsAndReplaceBytesThatAreNotUtf8) {
  ReceivedProperties received;
  received.assetsPath = "data\\flutter_assets";
  received.dartEntrypoint = "";
  received.dartEntrypointArguments = {"\xC3\xA9", "\xFF"};
  const Bytes frame = MakeReceivedPropertiesFrame(received);
  ASSERT_GT(frame.size(), 5u);
  EXPECT_EQ(ReadLittleEndian32(frame.data()), frame.size() - 4);
  EXPECT_EQ(frame[4], kReceivedPropertiesKind);
  EXPECT_EQ(std::string(frame.begin() + 5, frame.end()),
            R"({"assets_path":"data\\flutter_assets","icu_data_path":null,"aot_library_path":null,)"
            R"("dart_entrypoint":"","dart_entrypoint_argv":[")" "\xC3\xA9" R"(",")" "\xEF\xBF\xBD"
            R"("],"gpu_preference":0,"ui_thread_policy":0,"run_entry_point":null})");
}

}  // namespace
}  // namespace pelno::stand_in
