#include "plugin/helper_listener_check.h"

#include <algorithm>

#include "engine/engine_contract.h"

namespace pelno {

ListenerVerdict JudgeHelperListener(const ListenerFacts& facts) {
  if (!facts.tableRead) return ListenerVerdict::kOwnerUnknown;
  if (facts.owners.empty()) return ListenerVerdict::kNoListener;
  bool service = false, launched = false, unchecked = false;
  for (const std::uint32_t owner : facts.owners) {
    if (owner == 0) {  // never a process of ours, whatever else says 0
      if (!facts.underWine) return ListenerVerdict::kOwnerUnknown;
      unchecked = true;
    } else if (owner == facts.serviceProcessId) {
      service = true;
    } else if (std::find(facts.launchedProcessIds.begin(), facts.launchedProcessIds.end(), owner) !=
               facts.launchedProcessIds.end()) {
      launched = true;
    } else {
      return ListenerVerdict::kOtherProgram;
    }
  }
  if (unchecked) return ListenerVerdict::kUnchecked;
  return service ? ListenerVerdict::kService : ListenerVerdict::kLaunchedHelper;
}

bool MaySendConfiguration(ListenerVerdict verdict) {
  return verdict == ListenerVerdict::kService || verdict == ListenerVerdict::kLaunchedHelper ||
         verdict == ListenerVerdict::kUnchecked;
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
