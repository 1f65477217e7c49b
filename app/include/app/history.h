// The delivery history: one line per delivery (and per missed reminder) in
// reminder.log beside the program, so that a closed window loses nothing.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "app/context.h"
#include "runtime/clock.h"

namespace app {

inline constexpr std::string_view kHistoryFile = "reminder.log";
inline constexpr std::string_view kOldHistoryFile = "reminder.log.1";
// A log that would grow past this is moved to reminder.log.1 first.
inline constexpr std::uint64_t kHistoryMaxBytes = 1 << 20;

// "yyyy-MM-dd hh:mm:ss", the form of the log's and the console's time stamps.
std::string LogStamp(rt::DateTime when);
// The history's name for the test reminder.
inline constexpr std::string_view kTestTaskName = "(测试)";

struct HistoryRecord {
  rt::DateTime scheduled = 0;
  std::string task;
  std::string verdict;  // "推送完成", "推送失败", "错过"
  int tries = 0;
  int status = 0;      // 0: no HTTP answer
  std::string detail;  // the reason, or the relay's reply or message (the key masked)
};

// One line of the log, UTF-8: scheduled time, task, verdict, tries, HTTP
// status ("-" for none) and detail, tab-separated; tabs, line breaks and
// other control characters inside a field become a blank or "?".
std::string HistoryLine(const HistoryRecord& record);

// The latest scheduled second (LocalSeconds) a line of reminder.log in the
// context's folder records, test reminders aside: what an earlier run of
// the program sent, or settled, last. nullopt: no such line, or no log.
std::optional<std::int64_t> LatestRecordedFiring(const AppContext& ctx);

// The log of one running program: appends each record's line to
// reminder.log in the context's folder. A log that cannot be written is
// reported once on the console (once more only after a line got written),
// and the program goes on.
class History {
 public:
  void Write(const AppContext& ctx, const HistoryRecord& record);
  // Forgets an earlier report (a new run).
  void ResetReport();

 private:
  std::mutex mutex_;
  bool reported_ = false;  // guarded by mutex_
};

}  // namespace app
