// The connection controller's real engine runtime (stand-in engine, fake registry)
// and the real local traffic snapshot.
#include <gtest/gtest.h>

#include "engine/process_launcher.h"
#include "engine/system_proxy.h"
#include "engine/testing/fake_proxy_settings_platform.h"
#include "plugin/application_session_runtime.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/status_map.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_helper_listener_platform.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/testing/program_folder.h"
#include "plugin/vpn_controller.h"
#include "plugin/win32_helper_launcher.h"
#include "plugin/win32_local_traffic_source.h"

namespace pelno {
namespace {

using testing::EncodableValue;
using testing::Entries;
using testing::FakeHelperTransport;
using testing::Map;

struct Platforms {  // a program folder with the stand-in engine, the rest fakes
  testing::ProgramFolder program{true};
  testing::FakeProxySettingsPlatform proxy;
  testing::FakeProvisioningPlatform provisioning;
  FakeHelperTransport helper;
  UniqueHandle job = CreateEngineJob();
  ApplicationSessionRuntime engine{program.locations, proxy, job.Get()};
  Win32HelperLauncher launcher{program.locations, job.Get()};
  LaunchedHelperSlot launchedHelper{helper, launcher, kHelperStartRounds};
  Win32LocalTrafficSource localTraffic;
  testing::FakeHelperListenerPlatform listener;
  PluginEnvironment environment{program.locations, engine,        provisioning, helper,
                                launchedHelper,    localTraffic, listener};
};

// The application's real runtime: the stand-in engine carries the session (the proxy
// points at it, its own figures make the snapshot) until it dies and takes the
// system proxy with it.
TEST(ControllerTest, TheRealEngineCarriesTheSessionUntilItDies) {
  Platforms platforms;
  platforms.proxy.SetString(L"ProxyServer", L"user:1");
  VpnController controller(platforms.environment);
  const char* config = R"({"experimental":{"clash_api":{"external_controller":"127.0.0.1:19090"}},"stand_in":{"exit_after_ms":3000}})";
  ASSERT_EQ(StatusOf(controller.Connect(Entries(Map({{"runtimeConfig", EncodableValue(config)}})))), "connected");
  EXPECT_EQ(platforms.proxy.StringValue(L"ProxyServer"), FormatProxyServer(7897));
  const EncodableValue snapshot = GetTrafficSnapshot(platforms.helper, platforms.localTraffic, controller.LocalEngineCarriesTraffic());
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(Entries(snapshot).at(EncodableValue("uploadTotalBytes"))));
  // The status turns as soon as the engine is gone; the exit watch, which gives the
  // proxy back, may come a little later on a loaded machine.
  for (int i = 0; i < 100 && controller.LocalEngineCarriesTraffic(); ++i) ::Sleep(100);
  EXPECT_FALSE(controller.GetStatus() == "connected" || controller.LocalEngineCarriesTraffic());
  EXPECT_EQ(platforms.proxy.StringValue(L"ProxyServer"), L"user:1");
}

}  // namespace
}  // namespace pelno
