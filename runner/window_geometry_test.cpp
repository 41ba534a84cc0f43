#include "runner/window_geometry.h"

#include <gtest/gtest.h>

namespace pelno::runner {
namespace {

TEST(WindowGeometry, TheLogicalWindowScalesToThePhysicalPixelsOfItsMonitor) {
  const struct { unsigned dpi; int x, width, height; } cases[] = {
      {96, 10, 450, 770}, {144, 15, 675, 1155}, {120, 12, 562, 962}};
  for (const auto& c : cases) {
    const double scale = ScaleFactorForDpi(c.dpi);
    EXPECT_EQ(ScaleToPhysical(10, scale), c.x) << c.dpi;
    EXPECT_EQ(ScaleToPhysical(450, scale), c.width) << c.dpi;
    EXPECT_EQ(ScaleToPhysical(770, scale), c.height) << c.dpi;
  }
}

}  // namespace
}  // namespace pelno::runner
