#include "urltest/url_test_registry.h"

#include <algorithm>

namespace pelno {

// An empty requestId (a version 1 request) never enters the registry.

void UrlTestRegistry::ResetRunMarks(const std::string& requestId) {
  if (requestId.empty()) return;
  std::lock_guard lock(mutex_);
  Run& run = runs_[requestId];
  ++run.active;
  run.canceled = false;
  run.processes.clear();
}

void UrlTestRegistry::EndRun(const std::string& requestId) {
  if (requestId.empty()) return;
  std::lock_guard lock(mutex_);
  const auto found = runs_.find(requestId);
  if (found == runs_.end()) return;
  Run& run = found->second;
  run.canceled = false;
  run.processes.clear();
  if (--run.active == 0) runs_.erase(found);
}

bool UrlTestRegistry::IsRunCanceled(const std::string& requestId) const {
  if (requestId.empty()) return false;
  std::lock_guard lock(mutex_);
  const auto found = runs_.find(requestId);
  return found != runs_.end() && found->second.canceled;
}

bool UrlTestRegistry::RegisterRunProcess(const std::string& requestId, ProcessRef process) {
  if (requestId.empty() || process == nullptr) return true;
  std::lock_guard lock(mutex_);
  const auto found = runs_.find(requestId);
  if (found == runs_.end()) return true;
  found->second.processes.push_back(process);
  return !found->second.canceled;
}

void UrlTestRegistry::UnregisterRunProcess(const std::string& requestId, ProcessRef process) {
  if (requestId.empty() || process == nullptr) return;
  std::lock_guard lock(mutex_);
  const auto found = runs_.find(requestId);
  if (found != runs_.end()) std::erase(found->second.processes, process);
}

std::size_t UrlTestRegistry::CancelRun(const std::string& requestId) {
  if (requestId.empty()) return 0;
  std::lock_guard lock(mutex_);
  const auto found = runs_.find(requestId);
  if (found == runs_.end()) return 0;
  found->second.canceled = true;
  for (const ProcessRef process : found->second.processes) terminate_(process);
  return found->second.processes.size();
}

}  // namespace pelno
