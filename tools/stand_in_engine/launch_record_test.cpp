#include "tools/stand_in_engine/launch_record.h"

#include <gtest/gtest.h>

#include "tools/stand_in_engine/json_value.h"

namespace pelno {
namespace {

TEST(LaunchRecordTest, LineIsOneJsonObjectWithEveryFact) {
  LaunchRecord record;
  record.command = "run";
  record.command_line = "\"C:\\my dir\\sing-box.exe\" run -c \"C:\\data \\\"x\\\"\\sing-box.json\"";
  record.argv = {"C:\\my dir\\sing-box.exe", "run", "-c", "C:\\data\\sing-box.json"};
  record.cwd = "C:\\users\\\xC3\xA9";
  record.env = {{"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS", "true"},
                {"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM", std::nullopt},
                {"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER", ""}};
  record.pid = 4242;
  record.inheritable_handles = {8, 0x1f4};

  std::string line = BuildRecordLine(record);
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);

  JsonValue v;
  std::string error;
  ASSERT_TRUE(ParseJson(line, v, error)) << error;
  EXPECT_EQ(v.Find("command")->AsString(), "run");
  EXPECT_EQ(v.Find("command_line")->AsString(), record.command_line);
  ASSERT_EQ(v.Find("argv")->Items().size(), 4u);
  EXPECT_EQ(v.Find("argv")->Items()[0].AsString(), "C:\\my dir\\sing-box.exe");
  EXPECT_EQ(v.Find("cwd")->AsString(), record.cwd);
  const JsonValue* env = v.Find("env");
  EXPECT_EQ(env->Find("ENABLE_DEPRECATED_LEGACY_DNS_SERVERS")->AsString(), "true");
  EXPECT_TRUE(env->Find("ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM")->IsNull());
  EXPECT_EQ(env->Find("ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER")->AsString(), "");
  EXPECT_EQ(v.Find("pid")->AsInt64(), 4242);
  ASSERT_EQ(v.Find("inheritable_handles")->Items().size(), 2u);
  EXPECT_EQ(v.Find("inheritable_handles")->Items()[1].AsInt64(), 0x1f4);
}

TEST(LaunchRecordTest, EmptyListsStayValidJson) {
  LaunchRecord record;
  JsonValue v;
  std::string error;
  ASSERT_TRUE(ParseJson(BuildRecordLine(record), v, error)) << error;
  EXPECT_TRUE(v.Find("argv")->Items().empty());
  EXPECT_TRUE(v.Find("env")->Members().empty());
  EXPECT_TRUE(v.Find("inheritable_handles")->Items().empty());
}

}  // namespace
}  // namespace pelno
