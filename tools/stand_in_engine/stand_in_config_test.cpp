#include "tools/stand_in_engine/stand_in_config.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

StandInConfig MustRead(std::string_view text) {
  StandInConfig config;
  std::string error;
  EXPECT_TRUE(ParseStandInConfig(text, config, error)) << text << ": " << error;
  return config;
}

std::string ErrorOf(std::string_view text) {
  StandInConfig config;
  std::string error;
  EXPECT_FALSE(ParseStandInConfig(text, config, error)) << text;
  return error;
}

TEST(StandInConfigTest, ReadsEngineConfigurationAndScript) {
  StandInConfig config = MustRead(R"({
    "log": {"level": "info"},
    "inbounds": [
      {"type": "tun", "tag": "tun-in", "address": ["172.19.0.1/30"]},
      {"type": "mixed", "tag": "pelno-vpn-mixed", "listen": "127.0.0.1", "listen_port": 7897}
    ],
    "outbounds": [
      {"type": "direct", "tag": "direct"},
      {"type": "vless", "tag": "node A", "server": "example.com"},
      {"type": "block"}
    ],
    "experimental": {"clash_api": {"external_controller": "127.0.0.1:19090"}},
    "stand_in": {
      "stdout": "hello\n", "stderr": "oops", "output_repeat": 3,
      "exit_code": 7, "exit_after_ms": 1500, "record_file": "C:\\rec ord.jsonl",
      "fetch": {"node A": {"delay_ms": 250, "fail": true}, "B": {}}
    }
  })");
  ASSERT_TRUE(config.controller.has_value());
  EXPECT_EQ(config.controller->address, "127.0.0.1");
  EXPECT_EQ(config.controller->port, 19090);
  ASSERT_EQ(config.proxy_inbounds.size(), 1u);
  EXPECT_EQ(config.proxy_inbounds[0].address, "127.0.0.1");
  EXPECT_EQ(config.proxy_inbounds[0].port, 7897);
  EXPECT_EQ(config.outbound_types.size(), 2u);  // the untagged one is skipped
  EXPECT_EQ(config.outbound_types.at("direct"), "direct");
  EXPECT_EQ(config.outbound_types.at("node A"), "vless");
  const StandInScript& s = config.script;
  EXPECT_EQ(s.stdout_text, "hello\n");
  EXPECT_EQ(s.stderr_text, "oops");
  EXPECT_EQ(s.output_repeat, 3);
  EXPECT_EQ(s.exit_code, 7u);
  EXPECT_EQ(s.exit_after_ms, 1500);
  EXPECT_EQ(s.record_file, "C:\\rec ord.jsonl");
  ASSERT_EQ(s.fetch.size(), 2u);
  EXPECT_EQ(s.fetch.at("node A").delay_ms, 250);
  EXPECT_TRUE(s.fetch.at("node A").fail);
  EXPECT_EQ(s.fetch.at("B").delay_ms, 0);
  EXPECT_FALSE(s.fetch.at("B").fail);
}

TEST(StandInConfigTest, EmptyObjectMeansNothingToServeAndDefaultScript) {
  StandInConfig config = MustRead("{}");
  EXPECT_FALSE(config.controller.has_value());
  EXPECT_TRUE(config.proxy_inbounds.empty());
  EXPECT_TRUE(config.outbound_types.empty());
  EXPECT_EQ(config.script.output_repeat, 1);
  EXPECT_FALSE(config.script.exit_code.has_value());
  EXPECT_FALSE(config.script.exit_after_ms.has_value());
  EXPECT_TRUE(config.script.record_file.empty());
}

TEST(StandInConfigTest, ControllerAddressForms) {
  auto controller = [](std::string_view value) {
    return MustRead(std::string(R"({"experimental":{"clash_api":{"external_controller":)") +
                    std::string(value) + "}}}")
        .controller;
  };
  EXPECT_FALSE(controller("\"\"").has_value());
  EXPECT_EQ(controller("\":9090\"")->address, "127.0.0.1");
  EXPECT_EQ(controller("\":9090\"")->port, 9090);
  EXPECT_EQ(controller("\"0.0.0.0:19090\"")->address, "0.0.0.0");
  EXPECT_EQ(controller("\"localhost:19090\"")->address, "127.0.0.1");
  EXPECT_EQ(controller("\"[::1]:19090\"")->address, "127.0.0.1");
  EXPECT_FALSE(MustRead(R"({"experimental":{}})").controller.has_value());
  for (const char* bad :
       {"\"127.0.0.1\"", "\"127.0.0.1:0\"", "\"127.0.0.1:65536\"", "\"127.0.0.1:x\"", "19090"}) {
    EXPECT_NE(ErrorOf(std::string(R"({"experimental":{"clash_api":{"external_controller":)") + bad +
                      "}}}"),
              "")
        << bad;
  }
}

TEST(StandInConfigTest, ServesMixedAndHttpInboundsAndTheTaggedOne) {
  StandInConfig config = MustRead(R"({"inbounds":[
    {"type":"http","listen_port":8080},
    {"type":"socks","listen_port":1080},
    {"type":"socks","tag":"pelno-vpn-mixed","listen_port":7897},
    {"type":"mixed","listen":"::","listen_port":7898},
    {"type":"mixed","listen":"0.0.0.0","listen_port":7899},
    {"type":"mixed","tag":"no port"}]})");
  ASSERT_EQ(config.proxy_inbounds.size(), 4u);
  EXPECT_EQ(config.proxy_inbounds[0].port, 8080);
  EXPECT_EQ(config.proxy_inbounds[1].port, 7897);
  EXPECT_EQ(config.proxy_inbounds[2].address, "127.0.0.1");
  EXPECT_EQ(config.proxy_inbounds[3].address, "0.0.0.0");
}

TEST(StandInConfigTest, RejectsUnusablePortsAndShapes) {
  EXPECT_NE(ErrorOf(R"({"inbounds":[{"type":"mixed","listen_port":0}]})"), "");
  EXPECT_NE(ErrorOf(R"({"inbounds":[{"type":"mixed","listen_port":65536}]})"), "");
  EXPECT_NE(ErrorOf(R"({"inbounds":[{"type":"mixed","listen_port":"7897"}]})"), "");
  EXPECT_NE(ErrorOf(R"({"inbounds":[{"type":"mixed","listen_port":7897.5}]})"), "");
  EXPECT_NE(ErrorOf(R"({"inbounds":{}})"), "");
  EXPECT_NE(ErrorOf(R"({"inbounds":[1]})"), "");
  EXPECT_NE(ErrorOf(R"({"outbounds":"direct"})"), "");
  EXPECT_NE(ErrorOf(R"({"outbounds":[{"tag":"a","type":"direct"},{"tag":"a","type":"direct"}]})"),
            "");
  EXPECT_NE(ErrorOf(R"({"outbounds":[{"tag":5}]})"), "");
  EXPECT_EQ(ErrorOf("[]"), "the configuration must be a JSON object");
  EXPECT_NE(ErrorOf("{\"a\":"), "");
}

TEST(StandInConfigTest, ScriptKeysAreChecked) {
  EXPECT_EQ(ErrorOf(R"({"stand_in":{"exit_cod":1}})"), "unknown key \"exit_cod\" in \"stand_in\"");
  EXPECT_NE(ErrorOf(R"({"stand_in":[]})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"stdout":1}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"output_repeat":-1}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"exit_after_ms":-5}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"exit_code":4294967296}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"exit_code":true}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"fetch":{"a":{"delay_ms":-1}}}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"fetch":{"a":{"fail":"yes"}}}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"fetch":{"a":{"dealy_ms":5}}}})"), "");
  EXPECT_NE(ErrorOf(R"({"stand_in":{"fetch":{"a":true}}})"), "");
}

TEST(StandInConfigTest, ExitCodesCoverTheWholeUnsignedRange) {
  EXPECT_EQ(MustRead(R"({"stand_in":{"exit_code":-1}})").script.exit_code, 0xFFFFFFFFu);
  EXPECT_EQ(MustRead(R"({"stand_in":{"exit_code":259}})").script.exit_code, 259u);
  EXPECT_EQ(MustRead(R"({"stand_in":{"exit_code":4294967295}})").script.exit_code, 0xFFFFFFFFu);
  EXPECT_EQ(MustRead(R"({"stand_in":{"exit_code":0}})").script.exit_code, 0u);
}

TEST(StandInConfigTest, ScriptedOutputIsCapped) {
  // 100 KB of output is fine; stdout text times output_repeat beyond the cap is not.
  EXPECT_EQ(MustRead(R"({"stand_in":{"stdout":"0123456789","output_repeat":10240}})")
                .script.output_repeat,
            10240);
  std::string error = ErrorOf(R"({"stand_in":{"stdout":"0123456789","output_repeat":67108864}})");
  EXPECT_NE(error.find("scripted output larger"), std::string::npos) << error;
  // An empty text may be repeated as often as the counter allows.
  EXPECT_EQ(MustRead(R"({"stand_in":{"output_repeat":67108864}})").script.output_repeat, 67108864);
}

}  // namespace
}  // namespace pelno
