#include "server/log_journal.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pelno {
namespace {

const std::tm kMarch5{
    .tm_sec = 7, .tm_min = 4, .tm_hour = 9, .tm_mday = 5, .tm_mon = 2, .tm_year = 2026 - 1900};

// Zero-padded local time; the message is kept as it is (line breaks too) up to
// 1,200 bytes, longer ones are cut there and marked.
TEST(LogLineTest, StampedCappedLine) {
  const std::string stamp = "[2026-03-05 09:04:07] ";
  const std::string cap(1200, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {"PelnoVpnHelper started", stamp + "PelnoVpnHelper started\r\n"}, {"", stamp + "\r\n"},
      {cap, stamp + cap + "\r\n"}, {cap + "b", stamp + cap + "...\r\n"}, {"a\r\nb\n", stamp + "a\r\nb\n\r\n"},
  };
  for (const auto& [message, line] : cases) EXPECT_EQ(FormatLogLine(kMarch5, message), line);
}

// Four threads append at once: the journal keeps exactly its last 65,536 bytes,
// ends with a whole line, and no line is torn.
TEST(LogJournalTest, ConcurrentAppendsNeverInterleaveAndTheFrontIsTrimmed) {
  LogJournal journal;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&journal, t] {
      for (int i = 0; i < 500; ++i)
        journal.AppendLine(FormatLogLine(kMarch5, std::string(20, static_cast<char>('a' + t))));
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string text = journal.ReadLogJournal();
  ASSERT_EQ(text.size(), kLogJournalLimit);
  const std::size_t lineSize = 44;  // stamp 22 + message 20 + CR LF
  for (std::size_t pos = text.size() % lineSize; pos < text.size(); pos += lineSize) {
    const std::string line = text.substr(pos, lineSize);
    EXPECT_EQ(line.substr(22, 20), std::string(20, line[22])) << "at " << pos;
    EXPECT_EQ(line.substr(42), "\r\n");
  }
}

TEST(LogJournalTest, AppendLogStampsTheCurrentLocalTime) {
  LogJournal journal;
  const std::time_t before = std::time(nullptr);
  journal.AppendLog("hello");
  const std::time_t after = std::time(nullptr);
  const std::string line = journal.ReadLogJournal();
  EXPECT_TRUE(line == FormatLogLine(*std::localtime(&before), "hello") ||
              line == FormatLogLine(*std::localtime(&after), "hello")) << line;
}

}  // namespace
}  // namespace pelno
