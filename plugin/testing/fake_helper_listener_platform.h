// The helper's port in memory as the listener check sees it: by default the service
// (process 500) listens.
#pragma once

#include <string>
#include <vector>

#include "plugin/helper_listener_check.h"

namespace pelno::testing {

struct FakeHelperListenerPlatform : HelperListenerPlatform {
  bool ListenerOwners(std::uint16_t, std::vector<std::uint32_t>& found) override { return found = owners, true; }
  std::uint32_t ServiceProcessId() override { return 500; }
  bool UnderWine() override { return underWine; }
  void Note(std::string_view line) override { notes.append(line).append("\n"); }

  std::vector<std::uint32_t> owners{500};
  bool underWine = false;
  std::string notes;
};

}  // namespace pelno::testing
