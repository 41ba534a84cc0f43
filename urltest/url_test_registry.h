// Which URL test runs are being canceled and which engines they wait on, by
// requestId. One per helper process, behind one mutex of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pelno {

class UrlTestRegistry {
 public:
  // A process handle as the platform knows it (HANDLE on Windows).
  using ProcessRef = void*;
  using TerminateProcessFn = std::function<void(ProcessRef)>;

  explicit UrlTestRegistry(TerminateProcessFn terminate) : terminate_(std::move(terminate)) {}

  // A run with this requestId begins measuring: a cancel that came before is
  // forgotten, and cancels count from now on.
  void ResetRunMarks(const std::string& requestId);
  // The run has ended: its marks go (those of every run sharing the requestId).
  void EndRun(const std::string& requestId);
  bool IsRunCanceled(const std::string& requestId) const;
  // The run now waits on this engine; a cancel terminates it until it is unregistered.
  // False when the run is canceled already: the caller ends the engine itself rather
  // than wait for a result nobody takes.
  bool RegisterRunProcess(const std::string& requestId, ProcessRef process);
  // Every registration of `process`; call before closing the handle.
  void UnregisterRunProcess(const std::string& requestId, ProcessRef process);
  // Marks the runs with this requestId canceled and terminates their engines, still
  // under the mutex, so no handle is terminated after its worker closed it. Returns
  // the number of engines terminated. A requestId that is not running leaves no mark:
  // the next run with it would forget the mark at its start anyway.
  std::size_t CancelRun(const std::string& requestId);

 private:
  struct Run {
    std::size_t active = 0;  // runs measuring with this requestId
    bool canceled = false;
    std::vector<ProcessRef> processes;
  };

  TerminateProcessFn terminate_;
  mutable std::mutex mutex_;
  std::map<std::string, Run, std::less<>> runs_;
};

}  // namespace pelno
