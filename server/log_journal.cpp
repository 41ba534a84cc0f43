#include "server/log_journal.h"

#include <cstdio>

namespace pelno {

std::string FormatLogLine(const std::tm& t, std::string_view message) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d] ", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  std::string line = stamp;
  if (message.size() > kLogMessageLimit) {
    line.append(message.substr(0, kLogMessageLimit));
    line.append("...");
  } else {
    line.append(message);
  }
  line.append("\r\n");
  return line;
}

void LogJournal::AppendLine(std::string_view line) {
  MutexLock lock(mutex_);
  text_.append(line);
  if (text_.size() > kLogJournalLimit) text_.erase(0, text_.size() - kLogJournalLimit);
}

std::string LogJournal::ReadLogJournal() const {
  MutexLock lock(mutex_);
  return text_;
}

namespace {
std::tm LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}
}  // namespace

void LogJournal::AppendLog(std::string_view message) {
  AppendLine(FormatLogLine(LocalTimeNow(), message));
}

}  // namespace pelno
