#include "engine/config_file_check.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace pelno {
namespace {

// Each offending form under each file-bearing key: refused, naming that key.
TEST(ConfigFileCheckTest, OffendingFormsAreRefusedUnderEveryKey) {
  const struct {
    const char* config;  // '@' is where the value goes
    const char* keyPath;
  } keys[] = {
      {R"({"log":{"level":"warn","output":@}})", "log.output"},
      {R"({"experimental":{"clash_api":{"external_ui":@}}})", "experimental.clash_api.external_ui"},
      {R"({"experimental":{"cache_file":{"enabled":true,"path":@}}})", "experimental.cache_file.path"},
      {R"({"outbounds":[{"type":"direct"},{"tls":{"certificate_path":@}}]})",
       "outbounds[1].tls.certificate_path"},
      {R"({"certificate":{"certificate_path":["ca.pem",@]}})", "certificate.certificate_path[1]"},
      {R"({"route":{"rule_set":[{"path":"a.srs"},{"type":"local","path":@}]}})", "route.rule_set[1].path"},
      {R"({"route":{"geosite":{"path":@}}})", "route.geosite.path"},
      {R"({"dns":{"servers":[{"type":"hosts","path":[@]}]}})", "dns.servers[0].path[0]"},
      {R"({"inbounds":[{"tls":{"acme":{"data_directory":@}}}]})", "inbounds[0].tls.acme.data_directory"},
      {R"({"stand_in":{"record_file":@}})", "stand_in.record_file"},
      // The engine's decoder matches keys case-insensitively, and every duplicate counts.
      {R"({"LOG":{"Output":@}})", "LOG.Output"},
      {R"({"route":{"rule_\u017fet":[{"path":@}]}})", "route.rule_\xC5\xBF" "et[0].path"},
      {R"({"log":{"output":"box.log","output":@}})", "log.output"},
  };
  const char* forms[] = {R"(C:\ProgramData\Microsoft\Windows\Start Menu\Programs\StartUp\a.bat)",
      "C:a.log", "/tmp/a.log", R"(\Users\a.log)", R"(\\server\share\a.log)", "//server/share/a",
      R"(\\?\C:\a.log)", R"(\\.\pipe\x)", R"(\??\C:\a.log)", R"(logs\..\..\a.log)", "logs/../a.log",
      "..", "...", "logs\\.. \\a", "box.log:stream", "CON", "nul.txt", "com1", "LPT9.log", "COM\xC2\xB9",
      "lpt\xC2\xB2.txt", "logs/COM\xC2\xB3", "logs./a",
      " logs/a", "%ProgramData%\\a.log", "$HOME/a", "~/a.log", ".", "./", "a\tb", "a*"};
  for (const auto& key : keys) {
    for (const char* form : forms) {
      std::string config = key.config;
      config.replace(config.find('@'), 1, nlohmann::json(form).dump());
      EXPECT_EQ(CheckEngineConfiguration(config), std::string("Configuration refused: ") + key.keyPath +
                                                       " must be a relative path inside the data directory")
          << config;
    }
  }
}

// Harmless forms run; unreadable texts and hostile key names.
TEST(ConfigFileCheckTest, WholeConfigurations) {
  const std::string unreadable = "Configuration refused: the configuration is not valid JSON";
  const std::string reason = " must be a relative path inside the data directory";
  const std::string longKey(300, 'k');
  const struct { std::string config; std::optional<std::string> refusal = std::nullopt; } cases[] = {
      {R"({"log":{"output":"box.log"},"experimental":{"clash_api":{"external_ui":"ui",
          "external_controller":"127.0.0.1:9090"},"cache_file":{"path":"cache.db","cache_id":"a:b"}}})"},
      // HTTP paths of a transport and an outbound; a matcher naming a program.
      {R"({"outbounds":[{"transport":{"type":"ws","path":"/ray"}},{"type":"http","path":"/proxy"}],
          "route":{"rules":[{"process_path":["C:\\Program Files\\App\\app.exe"]}]}})"},
      {R"({"log":{"output":""},"a_path":[],"x_dir":"./state/","y_file":"a\\x.y.log","z_directory":"a//b"})"},
      {"// comments are allowed\n{\"log\": {\"output\": \"box.log\" /* here too */}, \"count_file\": 3}"},
      {"[]"}, {"", unreadable}, {"{\"log\":{\"output\":\"box.log\"},\"x\":\"\xFF\"}", unreadable},
      {R"({"x":"\ud800"})", unreadable}, {R"({"log":{}} x)", unreadable},
      {std::string(10001, '[') + std::string(10001, ']'), unreadable},
      {"{\"a\\nb_path\":\"C:\"}", "Configuration refused: a?b_path" + reason},
      {"{\"" + longKey + "_file\":\"/a\"}", "Configuration refused: " + longKey.substr(0, 200) + "..." + reason},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckEngineConfiguration(c.config), c.refusal) << c.config;
}

}  // namespace
}  // namespace pelno
