// The real snapshot of the application's own engine: the helper's traffic library
// asks the engine's controller and reads the system's socket tables.
#pragma once

#include "plugin/traffic_client.h"

namespace pelno {

class Win32LocalTrafficSource : public LocalTrafficSource {
 public:
  std::string BuildSnapshot() override;
};

}  // namespace pelno
