// The helper program the plug-in starts itself, hidden and with the user's rights,
// when a latency test finds no helper answering. A seam, so that the connection
// controller runs in native tests; LaunchedHelperSlot
// (plugin/launched_helper_slot.h) is the real one.
#pragma once

#include <cstdint>
#include <vector>

namespace pelno {

class LaunchedHelper {
 public:
  virtual ~LaunchedHelper() = default;
  // A helper answers "/ping", if need be after one was started here; false when
  // none can be had.
  virtual bool EnsureAnswering() = 0;
  // Ends every helper started here, a start under way included (it is waited for),
  // and starts none until Resume: a TUN connect runs in between, and its
  // configuration must reach no helper with only the user's rights.
  virtual void End() = 0;
  virtual void Resume() = 0;
  // End for good (the application is closing).
  virtual void Close() = 0;
  // The process ids of the helpers started here that still run.
  virtual std::vector<std::uint32_t> RunningProcessIds() const = 0;
};

}  // namespace pelno
