#include "helper/log_journal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace pelno {
namespace {

std::tm March5() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 4;
  t.tm_sec = 7;
  return t;
}

// Zero-padded local time; the message is kept as it is (line breaks too) up to
// 1,200 bytes, longer ones are cut there and marked.
TEST(LogLineTest, StampedCappedLine) {
  const std::string stamp = "[2026-03-05 09:04:07] ";
  const std::string cap(1200, 'a');
  const struct {
    std::string message, line;
  } cases[] = {
      {"PelnoVpnHelper started", stamp + "PelnoVpnHelper started\r\n"},
      {"", stamp + "\r\n"},
      {cap, stamp + cap + "\r\n"},
      {cap + "b", stamp + cap + "...\r\n"},
      {"a\r\nb\n", stamp + "a\r\nb\n\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLogLine(March5(), c.message), c.line);
}

TEST(LogJournalTest, TrimsFromTheFrontToTheLimitAtAByteCount) {
  LogJournal journal;
  std::string everything;
  for (int i = 0; i < 2000; ++i) {
    std::string line = FormatLogLine(March5(), "entry " + std::to_string(i));
    everything += line;
    journal.AppendLine(line);
  }
  std::string text = journal.ReadLogJournal();
  ASSERT_EQ(text.size(), kLogJournalLimit);
  EXPECT_EQ(text, everything.substr(everything.size() - kLogJournalLimit));
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(LogJournalTest, ConcurrentAppendsNeverInterleave) {
  LogJournal journal;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&journal, t] {
      for (int i = 0; i < 200; ++i)
        journal.AppendLine(FormatLogLine(March5(), std::string(20, static_cast<char>('a' + t))));
    });
  }
  for (auto& thread : threads) thread.join();
  std::string text = journal.ReadLogJournal();
  ASSERT_EQ(text.size(), 800u * 44u);
  for (std::size_t pos = 0; pos < text.size(); pos += 44) {
    std::string line = text.substr(pos, 44);
    EXPECT_EQ(line.substr(22, 20), std::string(20, line[22])) << "at " << pos;
    EXPECT_EQ(line.substr(42), "\r\n");
  }
}

TEST(LogJournalTest, AppendLogStampsTheCurrentLocalTime) {
  LogJournal journal;
  std::time_t before = std::time(nullptr);
  journal.AppendLog("hello from the test");
  std::string text = journal.ReadLogJournal();
  ASSERT_EQ(text.size(), 43u);
  const std::string& line = text;
  EXPECT_EQ(line.substr(20), "] hello from the test\r\n");
  std::tm t{};
  ASSERT_EQ(std::sscanf(line.c_str(), "[%d-%d-%d %d:%d:%d]", &t.tm_year, &t.tm_mon, &t.tm_mday,
                        &t.tm_hour, &t.tm_min, &t.tm_sec),
            6);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  std::time_t stamped = std::mktime(&t);
  EXPECT_LE(std::abs(static_cast<long long>(stamped - before)), 2);
}

}  // namespace
}  // namespace pelno
