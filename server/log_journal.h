// The helper's in-memory log journal: one line per event, read through GET /logs.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "base/mutex.h"

namespace pelno {

inline constexpr std::size_t kLogMessageLimit = 1200;   // bytes of a message kept per line
inline constexpr std::size_t kLogJournalLimit = 65536;  // bytes the journal keeps at most

// "[YYYY-MM-DD hh:mm:ss] " + message (cut at kLogMessageLimit, then "...") + "\r\n".
std::string FormatLogLine(const std::tm& localTime, std::string_view message);

// The program builds one journal and hands it to whatever logs.
class LogJournal {
 public:
  // Formats a line with the current local time and appends it; any thread.
  void AppendLog(std::string_view message);
  // Appends a ready line; keeps only the last kLogJournalLimit bytes.
  void AppendLine(std::string_view line);
  // A copy of the whole journal, taken under the lock.
  std::string ReadLogJournal() const;

 private:
  mutable Mutex mutex_;
  std::string text_ GUARDED_BY(mutex_);
};

}  // namespace pelno
