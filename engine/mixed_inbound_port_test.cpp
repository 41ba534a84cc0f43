#include "engine/mixed_inbound_port.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

TEST(FindMixedInboundPortTest, PortOfTheTaggedInboundOrTheDefault) {
  const std::string tag = R"({"tag":"pelno-vpn-mixed","listen_port":)";
  const struct {
    std::string config;
    int port;
  } cases[] = {
      {R"({"inbounds":[{"type":"mixed","tag": "pelno-vpn-mixed","listen":"127.0.0.1","listen_port":2080}]})",
       2080},
      {R"({"inbounds":[{"type":"mixed","tag":"pelno-vpn-mixed","listen_port": 2080}]})", 2080},
      {"{\"tag\": \"pelno-vpn-mixed\", \"listen_port\":    1080}", 1080},
      {"{\"tag\": \"pelno-vpn-mixed\", \"listen_port\" :\r\n\t1080}", 1080},
      // Values without digits, and ports out of range.
      {tag + "\"2080\"}", 7897},
      {tag + "-2080}", 7897},
      {tag + "}", 7897},
      {tag + "0}", 7897},
      {tag + "65536}", 7897},
      {tag + "65535}", 65535},
      {tag + "1}", 1},
      {tag + "00080}", 80},
      // 2^32 + 2080 would wrap to 2080 in 32 bits; saturation keeps it out of range.
      {tag + "4294969376}", 7897},
      {"{\"listen_port\":" + std::string(400, '9') + "}", 7897},
      // Without the tag the first port in the text counts; other tag spacing is not
      // recognised.
      {R"({"inbounds":[{"tag":"socks-in","listen_port":1080},{"tag":"x","listen_port":3000}]})",
       1080},
      {R"({"inbounds":[{"tag":"a","listen_port":1080},{"tag" : "pelno-vpn-mixed","listen_port":2080}]})",
       1080},
      // A port before the tag: the next object's port is taken.
      {R"([{"listen_port":2080,"tag":"pelno-vpn-mixed"},{"listen_port":3000}])", 3000},
      {R"([{"listen_port":2080,"tag":"pelno-vpn-mixed"}])", 7897},
      // Short and truncated texts.
      {"", 7897},
      {"listen_port:", 7897},
      {"\"listen_port\"", 7897},
      {"\"listen_port\" 2080", 7897},
      {"\"listen_port\":", 7897},
      {"\"listen_port\":8", 8},
      {"{\"tag\":\"pelno-vpn-mixed\"}", 7897},
      // The first ':' after the key is used, whatever stands between.
      {R"({"tag":"pelno-vpn-mixed","listen_port"  x :9000})", 9000},
  };
  for (const auto& c : cases) EXPECT_EQ(FindMixedInboundPort(c.config), c.port) << c.config;
}

}  // namespace
}  // namespace pelno
