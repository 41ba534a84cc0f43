// The helper's URL test runs: which are measuring and which of them are stopping
// (canceled by their requestId, or abandoned), the engines each run waits on, and
// the places for engines that all runs share. One per helper process, behind one
// mutex of its own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "base/mutex.h"

namespace pelno {

class ResponseChannel;

// Fetch engines running at once in the whole helper, over all runs.
inline constexpr std::size_t kMaxFetchEngines = 24;

class UrlTestRegistry {
 public:
  // A process as the platform knows it (its LaunchedProcess on Windows).
  using ProcessRef = void*;
  using TerminateProcessFn = std::function<void(ProcessRef)>;
  using RunId = std::uint64_t;

  explicit UrlTestRegistry(TerminateProcessFn terminate) : terminate_(std::move(terminate)) {}

  // A run begins measuring. Cancels of its requestId count from now on (one that
  // came before is forgotten); a cancel interrupts the sends on `stream`, which must
  // outlive the run's EndRun. An empty requestId can't be canceled.
  RunId BeginRun(const std::string& requestId, ResponseChannel& stream);
  void EndRun(RunId run);
  // Canceled or abandoned: the run measures nothing more and sends nothing more.
  bool IsRunStopping(RunId run) const;
  // Stops this run alone, for a client that takes no more results: its engines are
  // terminated and its waits for places end. True when this stopped it (it was
  // neither canceled nor abandoned before).
  bool AbandonRun(RunId run);
  // Stops every run measuring with this requestId: their engines are terminated,
  // still under the mutex so that no handle is terminated after its worker closed
  // it, their sends interrupted and their waits for places ended. Returns the number
  // of engines terminated.
  std::size_t CancelRun(const std::string& requestId);

  // The run now waits on this engine; stopping the run terminates it until it is
  // unregistered. False when the run is stopping already: the caller ends the engine
  // itself rather than wait for a result nobody takes.
  bool RegisterRunProcess(RunId run, ProcessRef process);
  // Every registration of `process`; call before closing the handle.
  void UnregisterRunProcess(RunId run, ProcessRef process);

  // Waits for one of the kMaxFetchEngines places, first come first served. False,
  // without a place, once the run is stopping.
  bool TakeEnginePlace(RunId run);
  void GiveEnginePlace();

 private:
  struct Run {
    std::string requestId;
    ResponseChannel* stream = nullptr;
    bool stopping = false;
    std::vector<ProcessRef> processes;
  };
  struct PlaceWaiter {
    RunId run;
    std::condition_variable wake;
  };

  bool IsStopping(RunId run) const REQUIRES(mutex_);
  // Marks the run stopping, terminates its engines, wakes its waiters; returns the
  // number of engines terminated.
  std::size_t Stop(RunId run, Run& state) REQUIRES(mutex_);
  void WakeFirstWaiter() REQUIRES(mutex_);

  TerminateProcessFn terminate_;
  mutable Mutex mutex_;
  RunId lastRun_ GUARDED_BY(mutex_) = 0;
  std::map<RunId, Run> runs_ GUARDED_BY(mutex_);
  std::size_t freePlaces_ GUARDED_BY(mutex_) = kMaxFetchEngines;
  std::list<PlaceWaiter*> waiters_ GUARDED_BY(mutex_);  // in the order they came
};

}  // namespace pelno
