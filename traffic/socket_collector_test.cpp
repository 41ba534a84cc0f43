#include "traffic/socket_collector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelno {
namespace {

struct Row { std::uint32_t pid; std::string protocol, address; std::uint16_t port; };

// "<name>|<method>|<host>" for each entry of the collector's text, taken from the
// three members that vary; everything else of an entry is checked once below.
std::vector<std::string> Summaries(const std::string& entries) {
  std::vector<std::string> out;
  auto member = [&](std::size_t from, const std::string& key) {
    const std::size_t start = entries.find("\"" + key + "\":\"", from) + key.size() + 4;
    return entries.substr(start, entries.find('"', start) - start);
  };
  for (std::size_t at = entries.find("{\"processName\""); at != std::string::npos;
       at = entries.find("{\"processName\"", at + 1)) {
    out.push_back(member(at, "processName") + "|" + member(at, "method") + "|" + member(at, "host"));
  }
  return out;
}

std::string NameFor(std::uint32_t pid) { return pid == 7 ? "caf\xC3\xA9.exe" : "p" + std::to_string(pid); }

TEST(SocketCollectorTest, FiltersDeduplicatesAndNamesRows) {
  const struct { const char* what; std::vector<Row> rows; std::vector<std::string> entries; } cases[] = {
      {"unspecified and standard loopback dropped, other loopback and mapped kept",
       {{1, "UDP", "0.0.0.0", 53}, {1, "UDP", "::", 53}, {1, "TCP", "127.0.0.1", 9},
        {1, "TCP", "::1", 9}, {1, "TCP", "", 9}, {1, "TCP", "127.0.0.2", 9},
        {1, "TCP", "::ffff:127.0.0.1", 9}},
       {"p1|TCP|127.0.0.2:9", "p1|TCP|::ffff:127.0.0.1:9"}},
      {"one endpoint per pid and protocol",
       {{1, "TCP", "10.0.0.5", 443}, {1, "TCP", "10.0.0.5", 443}, {1, "TCP", "10.0.0.5", 8080},
        {2, "TCP", "10.0.0.5", 443}, {1, "UDP", "10.0.0.5", 443}},
       {"p1|HTTPS|10.0.0.5:443", "p1|TCP|10.0.0.5:8080", "p2|HTTPS|10.0.0.5:443",
        "p1|HTTPS|10.0.0.5:443"}},
      {"method by port, IPv6 host unbracketed, UTF-8 name as raw bytes",
       {{3, "UDP", "192.168.1.4", 80}, {3, "UDP", "fe80::1", 5353}, {7, "TCP", "2001:db8::2", 22}},
       {"p3|HTTP|192.168.1.4:80", "p3|UDP|fe80::1:5353", "caf\xC3\xA9.exe|TCP|2001:db8::2:22"}},
  };
  for (const auto& c : cases) {
    SocketCollector collector(NameFor);
    for (const Row& row : c.rows) OfferSocketRow(collector, row.pid, row.protocol, row.address, row.port);
    EXPECT_EQ(Summaries(collector.Entries()), c.entries) << c.what;
    EXPECT_EQ(collector.EntryCount(), c.entries.size()) << c.what;
  }
}

TEST(SocketCollectorTest, WritesWholeEscapedEntriesSeparatedByCommas) {
  SocketCollector collector([](std::uint32_t pid) { return pid == 1 ? "svc.exe" : "a\"b\\c"; });
  OfferSocketRow(collector, 1, "TCP", "10.0.0.5", 443);
  OfferSocketRow(collector, 2, "UDP", "10.0.0.6", 5000);
  EXPECT_EQ(collector.Entries(),
            "{\"processName\":\"svc.exe\",\"policy\":\"Proxy\",\"totalBytes\":0,"
            "\"uploadBytesPerSecond\":0,\"downloadBytesPerSecond\":0,\"durationSeconds\":0,"
            "\"status\":\"Active\",\"method\":\"HTTPS\",\"host\":\"10.0.0.5:443\"},"
            "{\"processName\":\"a\\\"b\\\\c\",\"policy\":\"Proxy\",\"totalBytes\":0,"
            "\"uploadBytesPerSecond\":0,\"downloadBytesPerSecond\":0,\"durationSeconds\":0,"
            "\"status\":\"Active\",\"method\":\"UDP\",\"host\":\"10.0.0.6:5000\"}");
}

TEST(SocketCollectorTest, KeepsTheFirstEightyRowsAndNamesOnlyThose) {
  std::vector<std::uint32_t> named;
  SocketCollector collector([&](std::uint32_t pid) {
    named.push_back(pid);
    return "p" + std::to_string(pid);
  });
  for (std::uint32_t pid = 0; pid < 100; ++pid) OfferSocketRow(collector, pid, "TCP", "10.0.0.1", 1000);

  std::vector<std::string> expected;
  std::vector<std::uint32_t> expectedNamed;
  for (std::uint32_t pid = 0; pid < kMaxSocketEntries; ++pid) {
    expected.push_back("p" + std::to_string(pid) + "|TCP|10.0.0.1:1000");
    expectedNamed.push_back(pid);
  }
  EXPECT_EQ(Summaries(collector.Entries()), expected);
  EXPECT_EQ(collector.EntryCount(), kMaxSocketEntries);
  EXPECT_EQ(named, expectedNamed);
}

}  // namespace
}  // namespace pelno
