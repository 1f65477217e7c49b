// The running program's schedule: the task lines of time.txt as last
// applied, a watch that applies a changed file while the program runs, and
// the report of reminders a clock jump skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/context.h"
#include "app/history.h"
#include "app/schedule_file.h"
#include "crontab/crontab.h"
#include "crontab/schedule.h"
#include "runtime/file.h"
#include "runtime/timer_queue.h"

namespace app {

// The file is looked at twice a second and read once two looks agree, so
// that a file an editor is still writing is not taken half-way.
inline constexpr std::uint32_t kWatchPeriodMs = 500;

// When to read the file again: its stamp differs from the one last applied
// and is the one seen at the look before.
class FileWatch {
 public:
  explicit FileWatch(const rt::FileStamp& applied = {}) : applied_(applied), seen_(applied) {}
  // True when the file is to be read now; its stamp then counts as applied.
  bool Look(const rt::FileStamp& now);

 private:
  rt::FileStamp applied_, seen_;
};

class LiveSchedule {
 public:
  // context: the program's context at the moment; history: where missed
  // reminders are written (it must outlive the object); onFiring: what the
  // scheduler calls for each firing of a task, on its timer thread.
  LiveSchedule(std::function<const AppContext&()> context, History& history,
               crontab_callback onFiring)
      : context_(std::move(context)), history_(history), onFiring_(onFiring) {}

  // Applies the file's text read at start (the default line when it holds no
  // task; nullopt: too big to read, no task), confirming or refusing each
  // line, starts the scheduler, and watches the file from `stamp` on with a
  // timer of `timers` (none when nullptr). The scheduler fires no second up
  // to doneUntil (LocalSeconds; unset: the second before now), so the first
  // reminder named is after it.
  void Begin(crontab_handle* scheduler, const rt::FileStamp& stamp,
             std::optional<std::string_view> fileText, rt::TimerQueue* timers,
             std::optional<std::int64_t> doneUntil = std::nullopt);
  // No look at the file starts after this returns.
  void End();

  // One look at time.txt; the watch's timer calls it.
  void LookAtFile();
  // Reads time.txt and applies it: the tasks in force become those a fresh
  // start on the file would install (the first line of a name wins, a line
  // that never fires again is refused); the console names what stopped,
  // what started and each line newly refused. A file without a usable line
  // (missing, unreadable, empty, only comments or refused lines) or too big
  // changes nothing and is reported whenever that state changes.
  void Reload(const rt::FileStamp& stamp);

  // Names, per task, the reminders due in the seconds first..last
  // (LocalSeconds): how many, and when.
  void ReportMissed(std::int64_t first, std::int64_t last);
  // The first firing of the task after the second `after`; nullopt when the
  // task is gone or never fires again.
  std::optional<std::int64_t> NextFiring(std::string_view task, std::int64_t after);
  int TaskCount();
  // The message of the task line that added the task; "" for none.
  std::string MessageOf(std::string_view task);

 private:
  // With the lock held. reasons: RefusalReasons of the lines; only those
  // without one reach the scheduler.
  void Apply(const std::vector<std::string>& lines, const std::vector<std::string>& reasons,
             bool atStart);
  // The console's words for the lines now in force and refused against
  // those before.
  std::string ChangeReport(const std::vector<std::string>& lines, const std::vector<int>& accepted,
                           const std::vector<std::string>& reasons,
                           const std::vector<std::string>& inForce,
                           const std::vector<std::string>& refused, bool atStart) const;
  std::vector<std::string> Reasons(const std::vector<std::string>& lines) const;
  // Writes the state of a file that cannot be used, unless it was the last said.
  void Say(std::string text);
  // "下次提醒: ..." for the first firing after the second `after`.
  std::string NextReminderLine(std::int64_t after) const;

  const std::function<const AppContext&()> context_;
  History& history_;
  const crontab_callback onFiring_;
  std::mutex mutex_;
  crontab_handle* scheduler_ = nullptr;
  std::vector<std::string> lines_;     // the task lines last applied, in file order
  std::vector<std::string> inForce_;   // the accepted ones
  std::vector<std::string> refused_;   // the others
  std::vector<cron::Schedule> tasks_;  // the accepted ones, as the scheduler parsed them
  FileWatch watch_;
  std::string said_;  // the file's trouble last reported; "" since a good file
  bool ended_ = true;
  bool timerFailureSaid_ = false;
  std::optional<std::int64_t> doneUntil_;  // at start: the last second not to fire
  rt::TimerQueue* timers_ = nullptr;
  rt::TimerId watchTimer_ = 0;
  // Task name -> the message its line carries.
  std::map<std::string, std::string> messages_;
};

}  // namespace app
