// Benchmark tool for bench/traffic_bench.py, not shipped. Interleaves, N times: one
// GET /traffic-snapshot to the helper, the two controller round trips a snapshot
// makes (the same ControllerGet calls, the rate stream cut after its first sample),
// and the four socket-table reads with process names. Interleaved, all three see
// the same socket tables, whose size drives the reads' cost under Wine. Prints the
// p50/p99 of each in milliseconds as one JSON line.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "traffic/controller_client.h"
#include "traffic/socket_collector.h"
#include "traffic/socket_tables.h"

namespace {

using namespace pelno;

constexpr std::uint16_t kHelperPort = 17891;

double Milliseconds(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}

// One request to the helper on a new connection, read to the end.
bool Snapshot() {
  UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(kHelperPort);
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return false;
  const char request[] = "GET /traffic-snapshot HTTP/1.1\r\nHost: 127.0.0.1:17891\r\n\r\n";
  ::send(socket.Get(), request, sizeof request - 1, 0);
  std::string reply;
  char chunk[4096];
  for (int n; (n = ::recv(socket.Get(), chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, n);
  return reply.find("\"processes\":[") != std::string::npos;
}

std::string Figures(const char* name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const auto at = [&values](double fraction) {
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5))];
  };
  char text[128];
  std::snprintf(text, sizeof text, "\"%sP50\":%.3f,\"%sP99\":%.3f", name, at(0.5), name, at(0.99));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  WSADATA winsock;
  if (::WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 1;
  std::vector<double> snapshots, roundTrips, tables;
  for (int i = 0; i < count; ++i) {
    auto started = std::chrono::steady_clock::now();
    if (!Snapshot()) return 2;
    snapshots.push_back(Milliseconds(started));
    started = std::chrono::steady_clock::now();
    std::string reply;
    ControllerGet(kControllerPort, "/traffic", kControllerTimeoutMs, reply);
    ControllerGet(kControllerPort, "/connections", kControllerTimeoutMs, reply);
    roundTrips.push_back(Milliseconds(started));
    started = std::chrono::steady_clock::now();
    SocketCollector collector(ProcessDisplayName);
    CollectTcp4(collector);
    CollectTcp6(collector);
    CollectUdp4(collector);
    CollectUdp6(collector);
    tables.push_back(Milliseconds(started));
  }
  std::printf("{%s,%s,%s}\n", Figures("snapshot", snapshots).c_str(),
              Figures("roundTrips", roundTrips).c_str(), Figures("tables", tables).c_str());
  ::WSACleanup();
  return 0;
}
