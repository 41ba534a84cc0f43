// Every platform the plug-in runs on, in memory. The launched helper and the local
// traffic are this object itself, which notes the helper's calls in `launched`.
#pragma once

#include <functional>

#include "engine/testing/fake_location_platform.h"
#include "engine/testing/fake_session_runtime.h"
#include "plugin/testing/fake_helper_listener_platform.h"
#include "plugin/testing/fake_helper_transport.h"
#include "plugin/testing/fake_provisioning_platform.h"
#include "plugin/vpn_controller.h"

namespace pelno::testing {

struct FakePluginPlatforms : LaunchedHelper, LocalTrafficSource {
  bool EnsureAnswering() override { return answering; }
  void End() override { launched += "end "; }
  void Resume() override { launched += "resume "; }
  void Close() override { launched += (beforeClose ? beforeClose() : "") + "close "; }
  std::vector<std::uint32_t> RunningProcessIds() const override { return processIds; }
  std::string BuildSnapshot() override { return snapshot; }

  bool answering = false;
  std::vector<std::uint32_t> processIds;
  std::string snapshot, launched;
  std::function<std::string()> beforeClose;  // noted before "close "
  FakeLocationPlatform locations;
  FakeSessionRuntime engine;
  FakeProvisioningPlatform provisioning;
  FakeHelperTransport helper;
  FakeHelperListenerPlatform listener;
  PluginEnvironment environment{locations, engine, provisioning, helper, *this, *this, listener};
};

}  // namespace pelno::testing
