// Benchmark tool for bench/traffic_bench.py, not shipped: times, N times each, the
// two controller round trips a traffic snapshot makes (the same ControllerGet calls,
// the rate stream cut after its first sample) and the four socket-table reads with
// process names, and prints their p50/p99 in milliseconds as one JSON line.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "traffic/controller_client.h"
#include "traffic/socket_collector.h"
#include "traffic/socket_tables.h"

namespace {

template <typename Step>
std::vector<double> Time(int count, Step step) {
  std::vector<double> milliseconds;
  for (int i = 0; i < count; ++i) {
    const auto started = std::chrono::steady_clock::now();
    step();
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  return milliseconds;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  return sorted[std::min(sorted.size() - 1,
                         static_cast<std::size_t>(fraction * (sorted.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelno;
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  WSADATA winsock;
  if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 1;
  const auto roundTrips = Time(count, [] {
    std::string reply;
    ControllerGet(kControllerPort, "/traffic", kControllerTimeoutMs, reply);
    ControllerGet(kControllerPort, "/connections", kControllerTimeoutMs, reply);
  });
  const auto tables = Time(count, [] {
    SocketCollector collector(ProcessDisplayName);
    CollectTcp4(collector);
    CollectTcp6(collector);
    CollectUdp4(collector);
    CollectUdp6(collector);
  });
  std::printf(
      "{\"roundTripsP50\":%.3f,\"roundTripsP99\":%.3f,\"tablesP50\":%.3f,\"tablesP99\":%.3f}\n",
      Percentile(roundTrips, 0.5), Percentile(roundTrips, 0.99), Percentile(tables, 0.5),
      Percentile(tables, 0.99));
  ::WSACleanup();
  return 0;
}
