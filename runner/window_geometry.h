// Logical window geometry scaled to the physical pixels of a monitor.
#pragma once

namespace pelno::runner {

// The monitor's DPI over the 96 of a scale of 1.
inline double ScaleFactorForDpi(unsigned dpi) { return dpi / 96.0; }

// A logical length in physical pixels, truncated toward zero.
inline int ScaleToPhysical(unsigned logical, double scaleFactor) {
  return static_cast<int>(logical * scaleFactor);
}

}  // namespace pelno::runner
