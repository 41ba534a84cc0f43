// The runs, their engines and the helper's engine places.
#include "urltest/url_test_registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <tuple>
#include <vector>

#include "urltest/testing/fake_client.h"

namespace pelno {
namespace {

using testing::FakeClient;

TEST(UrlTestRegistry, StopsTerminateTheRunsEnginesUnderTheLockOnly) {
  std::vector<UrlTestRegistry::ProcessRef> terminated;
  std::vector<std::future<void>> closing;
  UrlTestRegistry* self = nullptr;
  UrlTestRegistry::RunId first = 0;
  UrlTestRegistry registry([&](UrlTestRegistry::ProcessRef p) {
    terminated.push_back(p);
    // The worker that owns the handle cannot unregister (and close) it meanwhile.
    closing.push_back(std::async(std::launch::async, [&, p] { self->UnregisterRunProcess(first, p); }));
    EXPECT_EQ(closing.back().wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  });
  self = &registry;
  FakeClient streams[3];
  int a = 0, b = 0, c = 0, late = 0;
  EXPECT_EQ(registry.CancelRun("r"), 0u);  // before its runs: forgotten
  first = registry.BeginRun("r", streams[0]);
  const auto second = registry.BeginRun("r", streams[1]), other = registry.BeginRun("o", streams[2]);
  EXPECT_TRUE(!registry.IsRunStopping(first) && registry.RegisterRunProcess(first, &a));
  registry.RegisterRunProcess(first, &b);
  registry.RegisterRunProcess(second, &c);
  registry.UnregisterRunProcess(first, &a);
  EXPECT_TRUE(registry.AbandonRun(other));  // alone, its stream left as it is
  EXPECT_EQ(std::tuple(registry.AbandonRun(other), registry.IsRunStopping(first), streams[2].interrupts),
            std::tuple(false, false, 0));
  EXPECT_EQ(registry.CancelRun("r"), 2u);  // every run of the requestId
  EXPECT_EQ(terminated, (std::vector<UrlTestRegistry::ProcessRef>{&b, &c}));
  EXPECT_EQ(std::tuple(streams[0].interrupts, streams[1].interrupts, registry.AbandonRun(first)),
            std::tuple(1, 1, false));
  EXPECT_FALSE(registry.RegisterRunProcess(first, &late));  // launched after the cancel
  EXPECT_FALSE(registry.IsRunStopping(registry.BeginRun("r", streams[0])));
  for (std::future<void>& unregistered : closing) unregistered.get();
}

TEST(UrlTestRegistry, EnginePlacesGoInTurnAndAStoppedRunStopsWaiting) {
  UrlTestRegistry registry([](UrlTestRegistry::ProcessRef) {});
  FakeClient stream;
  const auto holder = registry.BeginRun("h", stream), early = registry.BeginRun("e", stream),
             late = registry.BeginRun("l", stream);
  for (std::size_t i = 0; i < kMaxFetchEngines; ++i) ASSERT_TRUE(registry.TakeEnginePlace(holder));
  auto first = std::async(std::launch::async, [&] { return registry.TakeEnginePlace(early); });
  ASSERT_EQ(first.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  auto second = std::async(std::launch::async, [&] { return registry.TakeEnginePlace(late); });
  ASSERT_EQ(second.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  registry.GiveEnginePlace();
  EXPECT_TRUE(first.get());
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  registry.CancelRun("l");
  EXPECT_FALSE(second.get());
}

}  // namespace
}  // namespace pelno
