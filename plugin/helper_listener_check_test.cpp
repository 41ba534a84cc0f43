// The check of the program listening on the helper's port.
#include "plugin/helper_listener_check.h"

#include <gtest/gtest.h>

#include <string>

#include "plugin/testing/fake_plugin_platforms.h"

namespace pelno {
namespace {

// Every kind of listener on 127.0.0.1:17891 when a configuration is about to go out.
TEST(HelperListenerCheckTest, OnlyTheServiceOrAHelperStartedHereIsSentAConfiguration) {
  using enum ListenerVerdict;
  const struct {
    const char* kind;
    ListenerFacts facts;  // table read, owners, service, started here, under Wine
    ListenerVerdict verdict;
    bool sent, sentForTun;
  } cases[] = {
      {"the service", {true, {500}, 500, {}, false}, kService, true, true},
      {"a helper started here", {true, {812}, 500, {812}, false}, kLaunchedHelper, true, false},
      {"the service and a helper started here", {true, {812, 500}, 500, {812}, false}, kLaunchedHelper, true,
       false},
      {"another program", {true, {900}, 500, {812}, false}, kOtherProgram, false, false},
      {"another program beside the service", {true, {500, 900}, 500, {}, false}, kOtherProgram, false, false},
      {"a helper left by an earlier run, service stopped", {true, {812}, 0, {}, false}, kOtherProgram, false,
       false},
      {"owner 0 on Windows, service stopped", {true, {0}, 0, {}, false}, kOwnerUnknown, false, false},
      {"owner 0 under Wine", {true, {0}, 0, {}, true}, kUnchecked, true, true},
      {"socket table unreadable", {false, {}, 500, {}, true}, kOwnerUnknown, false, false},
      {"nothing listening", {true, {}, 500, {}, false}, kNoListener, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeHelperListener(c.facts), c.verdict) << c.kind;
    EXPECT_EQ(MaySendConfiguration(c.verdict, ConfigurationTarget::kLatencyTest), c.sent) << c.kind;
    EXPECT_EQ(MaySendConfiguration(c.verdict, ConfigurationTarget::kTun), c.sentForTun) << c.kind;
  }
}

TEST(HelperListenerCheckTest, UncheckedUnderWineIsSaidOnce) {
  testing::FakePluginPlatforms fakes;  // no helper started here
  testing::FakeHelperListenerPlatform& platform = fakes.listener;
  platform.owners = {0};
  platform.underWine = true;
  HelperListenerCheck check(platform, fakes);
  EXPECT_EQ(check.Check(), ListenerVerdict::kUnchecked);
  EXPECT_EQ(check.Check(), ListenerVerdict::kUnchecked);
  EXPECT_EQ(platform.notes, std::string(kHelperCheckUnavailableNote) + "\n");
}

}  // namespace
}  // namespace pelno
