#include "tools/stand_in_engine/engine_command.h"

#include <gtest/gtest.h>

namespace pelno {
namespace {

TEST(EngineCommandTest, RunForm) {
  EngineCommand c = ParseEngineCommand({"run", "-c", "C:\\data dir\\sing-box.json"});
  EXPECT_EQ(c.kind, EngineCommand::Kind::kRun);
  EXPECT_EQ(c.config_path, "C:\\data dir\\sing-box.json");
}

TEST(EngineCommandTest, FetchForm) {
  EngineCommand c = ParseEngineCommand({"--disable-color", "-c", "C:\\u.json", "tools", "-o",
                                        "node \xC3\xA9", "fetch", "http://x/y"});
  EXPECT_EQ(c.kind, EngineCommand::Kind::kFetch);
  EXPECT_EQ(c.config_path, "C:\\u.json");
  EXPECT_EQ(c.outbound_tag, "node \xC3\xA9");
  EXPECT_EQ(c.url, "http://x/y");
}

TEST(EngineCommandTest, EverythingElseIsUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"run"},
      {"run", "-c"},
      {"run", "-c", "a", "b"},
      {"run", "-C", "a"},
      {"check", "-c", "a"},
      {"-c", "a", "run"},
      {"--disable-color", "-c", "a", "tools", "-o", "t", "fetch"},
      {"--disable-color", "-c", "a", "tools", "-o", "t", "fetch", "u", "extra"},
      {"-c", "a", "tools", "-o", "t", "fetch", "u", "--disable-color"},
      {"--disable-color", "-c", "a", "tools", "-o", "t", "fetchx", "u"},
      {"--disable-color", "-c", "a", "tool", "-o", "t", "fetch", "u"},
  };
  for (const auto& args : bad) {
    EXPECT_EQ(ParseEngineCommand(args).kind, EngineCommand::Kind::kUsage) << args.size();
  }
}

}  // namespace
}  // namespace pelno
