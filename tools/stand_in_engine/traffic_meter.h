// Byte counts of what the stand-in's proxy relayed, and the controller API texts
// that report them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace pelno {

struct TrafficFigures {
  uint64_t up = 0;
  uint64_t down = 0;
};

// Totals grow as relays report bytes; Tick(), called once a second, turns the
// growth since the previous tick into the current rates. Safe from any thread.
class TrafficMeter {
 public:
  void AddUpload(uint64_t bytes) { up_.fetch_add(bytes, std::memory_order_relaxed); }
  void AddDownload(uint64_t bytes) { down_.fetch_add(bytes, std::memory_order_relaxed); }
  TrafficFigures Totals() const;
  TrafficFigures Rates() const;
  void Tick();

 private:
  std::atomic<uint64_t> up_{0};
  std::atomic<uint64_t> down_{0};
  std::atomic<uint64_t> up_rate_{0};
  std::atomic<uint64_t> down_rate_{0};
  // Only Tick() touches these; it runs on one thread.
  uint64_t up_at_last_tick_ = 0;
  uint64_t down_at_last_tick_ = 0;
};

// One line of the /traffic stream: {"up":N,"down":N} and a line feed.
std::string TrafficLine(const TrafficFigures& rates);

// The /connections body: {"downloadTotal":N,"uploadTotal":N,"connections":[]}
std::string ConnectionsBody(const TrafficFigures& totals);

}  // namespace pelno
