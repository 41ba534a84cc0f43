#include "tools/stand_in_engine/traffic_meter.h"

namespace pelno {

TrafficFigures TrafficMeter::Totals() const {
  return {up_.load(std::memory_order_relaxed), down_.load(std::memory_order_relaxed)};
}

TrafficFigures TrafficMeter::Rates() const {
  return {up_rate_.load(std::memory_order_relaxed), down_rate_.load(std::memory_order_relaxed)};
}

void TrafficMeter::Tick() {
  TrafficFigures now = Totals();
  up_rate_.store(now.up - up_at_last_tick_, std::memory_order_relaxed);
  down_rate_.store(now.down - down_at_last_tick_, std::memory_order_relaxed);
  up_at_last_tick_ = now.up;
  down_at_last_tick_ = now.down;
}

std::string TrafficLine(const TrafficFigures& rates) {
  return "{\"up\":" + std::to_string(rates.up) + ",\"down\":" + std::to_string(rates.down) + "}\n";
}

std::string ConnectionsBody(const TrafficFigures& totals) {
  return "{\"downloadTotal\":" + std::to_string(totals.down) +
         ",\"uploadTotal\":" + std::to_string(totals.up) + ",\"connections\":[]}";
}

}  // namespace pelno
