#include "engine/mixed_inbound_port.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno {
namespace {

TEST(FindMixedInboundPortTest, PortOfTheTaggedInboundOrTheDefault) {
  const std::string mixed = R"({"inbounds":[{"type":"mixed","tag":"pelno-vpn-mixed","listen_port":)";
  const std::string scanned = R"({"tag": "pelno-vpn-mixed","listen_port":)";  // with "," no JSON
  const struct { std::string config; int port; } cases[] = {
      // The tagged inbound's own port, wherever and however its members are written.
      {R"({"inbounds":[{"listen_port":2080,"tag":"pelno-vpn-mixed"},{"listen_port":3000}]})", 2080},
      {R"({"inbounds":[{"tag":"a","listen_port":1080},{"tag" :	"pelno-vpn-mixed" , "listen_port" : 2080}]})",
       2080},
      {"{\"inbounds\":[{\"tag\":\"pelno-vpn-mixed\",\r\n\"listen_port\":\r\n\t1080}]}", 1080},
      {R"({"route":{"tag":"pelno-vpn-mixed","listen_port":9},"inbounds":[{"tag":"pelno-vpn-mixed","listen_port":2080}]})",
       2080},
      {R"({"inbounds":[{"tag":"pelno-vpn-mixed"},{"tag":"b","listen_port":3000}]})", 7897},
      // Its port must be an integer from 1 to 65535.
      {mixed + "1}]}", 1}, {mixed + "65535}]}", 65535}, {mixed + "0}]}", 7897}, {mixed + "70000}]}", 7897},
      {mixed + "4294969376}]}", 7897},  // 2^32 + 2080
      {mixed + "\"8080\"}]}", 7897}, {mixed + "-2080}]}", 7897}, {mixed + "2080.0}]}", 7897},
      // No tagged inbound: the first "listen_port" in the text.
      {R"({"inbounds":[{"tag":"socks","listen_port":1080},{"tag":"x","listen_port":3000}]})", 1080},
      {R"({"inbounds":[{"tag":"socks","listen_port":"1080"},{"listen_port":3000}]})", 7897},
      {R"({"inbounds":[]})", 7897},
      // Not JSON: the first "listen_port" after the tag's text, digits only.
      {R"([{"listen_port":2080,"tag":"pelno-vpn-mixed"},{"listen_port":3000},])", 3000},
      {R"({"listen_port":1080,"tag":"pelno-vpn-mixed","listen_port" x :	2080,})", 2080},
      {scanned + "\"2080\",}", 7897}, {scanned + "00080,}", 80},
      {scanned + "4294969376,}", 7897},  // saturates instead of wrapping to 2080
      {"\"listen_port\":8", 8}, {"\"listen_port\":", 7897}, {"", 7897},
  };
  for (const auto& c : cases) EXPECT_EQ(FindMixedInboundPort(c.config), c.port) << c.config;
}

}  // namespace
}  // namespace pelno
