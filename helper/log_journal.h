// The helper's in-memory log journal: one line per event, read through GET /logs.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace pelno {

inline constexpr std::size_t kLogMessageLimit = 1200;   // bytes of a message kept per line
inline constexpr std::size_t kLogJournalLimit = 65536;  // bytes the journal keeps at most

// "[YYYY-MM-DD hh:mm:ss] " + message (cut at kLogMessageLimit, then "...") + "\r\n".
std::string FormatLogLine(const std::tm& localTime, std::string_view message);

class LogJournal {
 public:
  // Appends a ready line; keeps only the last kLogJournalLimit bytes.
  void AppendLine(std::string_view line);
  std::string Copy() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// The process-wide journal.
LogJournal& ProcessLogJournal();

// Formats a line with the current local time and appends it to the process journal.
void AppendLog(std::string_view message);

// A copy of the whole process journal.
std::string ReadLogJournal();

}  // namespace pelno
