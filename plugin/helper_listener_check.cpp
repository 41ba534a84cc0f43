#include "plugin/helper_listener_check.h"

#include <algorithm>

#include "engine/engine_contract.h"

namespace pelno {

ListenerVerdict JudgeHelperListener(const ListenerFacts& facts) {
  if (!facts.tableRead) return ListenerVerdict::kOwnerUnknown;
  if (facts.owners.empty()) return ListenerVerdict::kNoListener;
  bool launched = false, unchecked = false;
  for (const std::uint32_t owner : facts.owners) {
    if (owner == 0) {  // never a process of ours, whatever else says 0
      if (!facts.underWine) return ListenerVerdict::kOwnerUnknown;
      unchecked = true;
    } else if (owner != facts.serviceProcessId) {
      if (std::find(facts.launchedProcessIds.begin(), facts.launchedProcessIds.end(), owner) ==
          facts.launchedProcessIds.end()) {
        return ListenerVerdict::kOtherProgram;
      }
      launched = true;
    }
  }
  if (unchecked) return ListenerVerdict::kUnchecked;
  return launched ? ListenerVerdict::kLaunchedHelper : ListenerVerdict::kService;
}

bool MaySendConfiguration(ListenerVerdict verdict, ConfigurationTarget target) {
  switch (verdict) {
    case ListenerVerdict::kService:
    case ListenerVerdict::kUnchecked:
      return true;
    case ListenerVerdict::kLaunchedHelper:
      return target == ConfigurationTarget::kLatencyTest;
    default:
      return false;
  }
}

ListenerVerdict HelperListenerCheck::Check() {
  ListenerFacts facts;
  facts.tableRead = platform_.ListenerOwners(kControlPort, facts.owners);
  facts.serviceProcessId = platform_.ServiceProcessId();
  facts.launchedProcessIds = launched_.RunningProcessIds();
  facts.underWine = platform_.UnderWine();
  const ListenerVerdict verdict = JudgeHelperListener(facts);
  if (verdict == ListenerVerdict::kUnchecked && !saidUnchecked_.exchange(true))
    platform_.Note(kHelperCheckUnavailableNote);
  return verdict;
}

}  // namespace pelno
