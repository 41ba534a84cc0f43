#include "engine/mixed_inbound_port.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

TEST(FindMixedInboundPortTest, PortAfterTagWithOrWithoutSpace) {
  EXPECT_EQ(FindMixedInboundPort(
                R"({"inbounds":[{"type":"mixed","tag": "pelno-vpn-mixed","listen":"127.0.0.1","listen_port":2080}]})"),
            2080);
  EXPECT_EQ(FindMixedInboundPort(
                R"({"inbounds":[{"type":"mixed","tag":"pelno-vpn-mixed","listen_port": 2080}]})"),
            2080);
}

TEST(FindMixedInboundPortTest, WhitespaceAfterColonIsSkipped) {
  EXPECT_EQ(FindMixedInboundPort("{\"tag\": \"pelno-vpn-mixed\", \"listen_port\":    1080}"), 1080);
  EXPECT_EQ(FindMixedInboundPort("{\"tag\": \"pelno-vpn-mixed\", \"listen_port\" :\r\n\t1080}"),
            1080);
}

TEST(FindMixedInboundPortTest, ValuesWithoutDigitsGiveTheDefault) {
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":"2080"})"), 7897);
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":-2080})"), 7897);
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":})"), 7897);
}

TEST(FindMixedInboundPortTest, PortRangeLimits) {
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":0})"), 7897);
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":65536})"), 7897);
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":65535})"), 65535);
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":1})"), 1);
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":00080})"), 80);
}

TEST(FindMixedInboundPortTest, HugeDigitRunSaturatesInsteadOfWrapping) {
  // 2^32 + 2080 would wrap to 2080 in 32 bits; saturation keeps it out of range.
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port":4294969376})"), 7897);
  EXPECT_EQ(FindMixedInboundPort("{\"listen_port\":" + std::string(400, '9') + "}"), 7897);
}

TEST(FindMixedInboundPortTest, WithoutTagTheFirstPortInTheTextCounts) {
  EXPECT_EQ(FindMixedInboundPort(
                R"({"inbounds":[{"tag":"socks-in","listen_port":1080},{"tag":"x","listen_port":3000}]})"),
            1080);
}

TEST(FindMixedInboundPortTest, OtherTagSpacingIsNotRecognised) {
  EXPECT_EQ(FindMixedInboundPort(
                R"({"inbounds":[{"tag":"a","listen_port":1080},{"tag" : "pelno-vpn-mixed","listen_port":2080}]})"),
            1080);
}

TEST(FindMixedInboundPortTest, PortBeforeTagTakesTheNextObjectsPort) {
  EXPECT_EQ(FindMixedInboundPort(
                R"([{"listen_port":2080,"tag":"pelno-vpn-mixed"},{"listen_port":3000}])"),
            3000);
  EXPECT_EQ(FindMixedInboundPort(R"([{"listen_port":2080,"tag":"pelno-vpn-mixed"}])"), 7897);
}

TEST(FindMixedInboundPortTest, ShortAndTruncatedTexts) {
  EXPECT_EQ(FindMixedInboundPort(""), 7897);
  EXPECT_EQ(FindMixedInboundPort("listen_port:"), 7897);  // 12 bytes
  EXPECT_EQ(FindMixedInboundPort("\"listen_port\""), 7897);
  EXPECT_EQ(FindMixedInboundPort("\"listen_port\" 2080"), 7897);
  EXPECT_EQ(FindMixedInboundPort("\"listen_port\":"), 7897);
  EXPECT_EQ(FindMixedInboundPort("\"listen_port\":8"), 8);
  EXPECT_EQ(FindMixedInboundPort("{\"tag\":\"pelno-vpn-mixed\"}"), 7897);
}

TEST(FindMixedInboundPortTest, ColonMayBeFarAfterTheKey) {
  // The first ':' after the key is used, whatever stands between.
  EXPECT_EQ(FindMixedInboundPort(R"({"tag":"pelno-vpn-mixed","listen_port"  x :9000})"), 9000);
}

}  // namespace
}  // namespace pelno
