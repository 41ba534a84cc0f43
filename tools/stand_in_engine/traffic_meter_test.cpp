#include "tools/stand_in_engine/traffic_meter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pelno {
namespace {

TEST(TrafficMeterTest, RatesAreTheGrowthBetweenTicks) {
  TrafficMeter meter;
  EXPECT_EQ(meter.Rates().up, 0u);
  meter.AddUpload(100);
  meter.AddDownload(1000);
  meter.AddUpload(20);
  EXPECT_EQ(meter.Totals().up, 120u);
  EXPECT_EQ(meter.Totals().down, 1000u);
  EXPECT_EQ(meter.Rates().up, 0u);  // nothing ticked yet
  meter.Tick();
  EXPECT_EQ(meter.Rates().up, 120u);
  EXPECT_EQ(meter.Rates().down, 1000u);
  meter.AddDownload(5);
  meter.Tick();
  EXPECT_EQ(meter.Rates().up, 0u);
  EXPECT_EQ(meter.Rates().down, 5u);
  meter.Tick();
  EXPECT_EQ(meter.Rates().down, 0u);
  EXPECT_EQ(meter.Totals().down, 1005u);
}

TEST(TrafficMeterTest, CountsFromManyThreads) {
  TrafficMeter meter;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&meter] {
      for (int i = 0; i < 10000; ++i) {
        meter.AddUpload(1);
        meter.AddDownload(2);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(meter.Totals().up, 40000u);
  EXPECT_EQ(meter.Totals().down, 80000u);
}

TEST(TrafficMeterTest, ControllerTexts) {
  EXPECT_EQ(TrafficLine({1024, 2048}), "{\"up\":1024,\"down\":2048}\n");
  EXPECT_EQ(ConnectionsBody({7, 18446744073709551615ull}),
            "{\"downloadTotal\":18446744073709551615,\"uploadTotal\":7,\"connections\":[]}");
}

}  // namespace
}  // namespace pelno
