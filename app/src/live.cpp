#include "app/live.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "app/command_line.h"
#include "app/context.h"
#include "app/history.h"
#include "app/message.h"
#include "app/schedule_file.h"
#include "runtime/datetime_text.h"

namespace app {
namespace {

constexpr std::string_view kMissedWhy = "计算机休眠或时钟跳变";

constexpr std::string_view kNoUsableTaskAtStart = "time.txt 里没有可用的任务，不会发送任何提醒\r\n";
constexpr std::string_view kKeepingTasks = "，继续使用现有的任务";

std::string TooBigText(std::string_view after) {
  return rt::JoinTexts("time.txt 超过 ", ScheduleLimitText(), "，没有读取", after, "\r\n");
}

// The lines of `a` not matched by one of `b`, each line as often as it is
// there more often.
std::vector<std::string> Without(const std::vector<std::string>& a,
                                 const std::vector<std::string>& b) {
  std::unordered_map<std::string_view, int> left;
  for (const auto& line : b) ++left[line];
  std::vector<std::string> out;
  for (const auto& line : a) {
    const auto it = left.find(line);
    if (it != left.end() && it->second > 0) {
      --it->second;
    } else {
      out.push_back(line);
    }
  }
  return out;
}

bool Contains(const std::vector<std::string>& lines, std::string_view line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string RefusalLine(std::string_view line, std::string_view reason) {
  return rt::JoinTexts("任务添加失败: ", rt::ShownText(line, kShownLineBytes), "\r\n     ", reason,
                       "\r\n");
}

// What is said when no line of the file can be used: each line's refusal.
std::string NoUsableLineText(const std::vector<std::string>& lines,
                             const std::vector<std::string>& reasons) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) text += RefusalLine(lines[i], reasons[i]);
  return rt::JoinTexts(text, "time.txt 里没有可用的任务", kKeepingTasks, "\r\n");
}

// Why a file holds no task line.
std::string_view WhyNoTask(const rt::Result<rt::Bytes, rt::ReadError>& read,
                           std::string_view text) {
  if (!read) return read.error() == rt::ReadError::kMissing ? "文件不存在" : "无法读取";
  if (text.find_first_not_of("\r\n") == std::string_view::npos) return "文件为空";
  return "只有注释或空行";
}

std::string TimeOfDay(const rt::SystemTime& t) {
  return rt::FormatText("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

}  // namespace

bool FileWatch::Look(const rt::FileStamp& now) {
  const bool settled = now == seen_;
  seen_ = now;
  if (!settled || now == applied_) return false;
  applied_ = now;
  return true;
}

void LiveSchedule::Begin(crontab_handle* scheduler, const rt::FileStamp& stamp,
                         std::optional<std::string_view> fileText, rt::TimerQueue* timers,
                         std::optional<std::int64_t> doneUntil) {
  const AppContext& ctx = context_();
  const std::lock_guard lock(mutex_);
  scheduler_ = scheduler;
  doneUntil_ = doneUntil;
  lines_.clear();
  inForce_.clear();
  refused_.clear();
  tasks_.clear();
  said_.clear();
  ended_ = false;
  watch_ = FileWatch(stamp);
  if (!fileText) {
    ctx.console->Write(TooBigText(""));
    ctx.console->Write(kNoUsableTaskAtStart);
    said_ = TooBigText(kKeepingTasks);  // the same file again is no news
  } else {
    const std::vector<std::string> lines = ScheduleLines(*fileText);
    Apply(lines, Reasons(lines), true);
  }
  timers_ = timers;
  if (timers_) {
    watchTimer_ = timers_->CreateTimer([this](rt::TimerTick&) { LookAtFile(); }, kWatchPeriodMs,
                                       kWatchPeriodMs);
    // Edits would go unseen without a word.
    if (watchTimer_ == 0) ctx.console->Write("无法监视 time.txt，修改后要重新启动程序才生效\r\n");
  }
}

void LiveSchedule::End() {
  rt::TimerQueue* timers = nullptr;
  rt::TimerId watch = 0;
  {
    const std::lock_guard lock(mutex_);
    if (ended_) return;
    ended_ = true;
    timers = std::exchange(timers_, nullptr);
    watch = std::exchange(watchTimer_, 0);
  }
  // Without the lock: a running look may be waiting for it.
  if (timers && watch != 0) timers->DeleteTimer(watch, rt::TimerWait::kWait);
}

void LiveSchedule::LookAtFile() {
  const rt::FileStamp stamp = rt::StatFile(ProgramFile(context_(), kScheduleFile));
  {
    const std::lock_guard lock(mutex_);
    if (ended_ || !watch_.Look(stamp)) return;
  }
  Reload(stamp);
}

void LiveSchedule::Say(std::string text) {
  if (text == said_) return;
  context_().console->Write(text);
  said_ = std::move(text);
}

std::vector<std::string> LiveSchedule::Reasons(const std::vector<std::string>& lines) const {
  rt::Clock& clock = *context_().clock;
  return RefusalReasons(lines, clock.LocalTime(), cron::LocalZone(clock));
}

void LiveSchedule::Reload(const rt::FileStamp& stamp) {
  const std::lock_guard lock(mutex_);
  if (ended_) return;
  // Each state of a file that cannot be used is said when it comes; a save
  // that changes nothing says nothing.
  if (stamp.size > kMaxScheduleBytes) {
    Say(TooBigText(kKeepingTasks));
    return;
  }
  const rt::Path path = ProgramFile(context_(), kScheduleFile);
  const auto read = rt::ReadFileBytes(path);
  const std::string text = FileText(read.value_or({}));
  const std::vector<std::string> lines = TaskLines(text);
  // Never the default schedule in the middle of a run.
  if (lines.empty()) {
    Say(rt::JoinTexts("time.txt 里没有任务(", WhyNoTask(read, text), ")", kKeepingTasks, "\r\n"));
    return;
  }
  const std::vector<std::string> reasons = Reasons(lines);
  if (std::all_of(reasons.begin(), reasons.end(), [](const auto& r) { return !r.empty(); })) {
    Say(NoUsableLineText(lines, reasons));
    return;
  }
  const bool troubled = !said_.empty();
  said_.clear();
  if (lines == lines_) {  // comments or blank lines changed
    if (troubled) context_().console->Write("time.txt 已恢复，任务没有变化\r\n");
    return;
  }
  Apply(lines, reasons, false);
}

void LiveSchedule::Apply(const std::vector<std::string>& lines,
                         const std::vector<std::string>& reasons, bool atStart) {
  // The scheduler gets the time fields and the name of each usable line
  // (one that never fires again would hold its name for nothing); the
  // message stays here.
  std::vector<TaskLine> parts;
  parts.reserve(lines.size());
  for (const auto& line : lines) parts.push_back(SplitTaskLine(line));
  std::vector<const char*> texts;
  std::vector<std::size_t> offered;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!reasons[i].empty()) continue;
    texts.push_back(parts[i].schedule.c_str());
    offered.push_back(i);
  }
  std::vector<int> taken(texts.size(), 0);
  const std::int32_t count = crontab_Replace(
      scheduler_, texts.data(), static_cast<std::int32_t>(texts.size()), onFiring_, taken.data());
  // A scheduler that had no task at start has no timer yet.
  if (count > 0 && !crontab_Start(scheduler_) && !timerFailureSaid_) {
    timerFailureSaid_ = true;
    context_().console->Write("无法启动定时器，不会发送提醒\r\n");
  }
  // The schedules as the scheduler read them: never a second reading that
  // could differ from it (a year step across New Year).
  tasks_ = cron::SchedulesInForce(scheduler_);
  std::vector<int> accepted(lines.size(), 0);
  for (std::size_t k = 0; k < offered.size(); ++k) accepted[offered[k]] = taken[k];
  messages_.clear();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (accepted[i]) messages_[parts[i].name] = parts[i].message;
  }

  std::vector<std::string> inForce, refused;
  for (std::size_t i = 0; i < lines.size(); ++i)
    (accepted[i] ? inForce : refused).push_back(lines[i]);
  std::string report = ChangeReport(lines, accepted, reasons, inForce, refused, atStart);
  // A start without a usable line: the same file again is no news.
  if (atStart && inForce.empty()) said_ = NoUsableLineText(lines, reasons);
  lines_ = lines;
  inForce_ = std::move(inForce);
  refused_ = std::move(refused);
  context_().console->Write(report);
}

std::string LiveSchedule::ChangeReport(const std::vector<std::string>& lines,
                                       const std::vector<int>& accepted,
                                       const std::vector<std::string>& reasons,
                                       const std::vector<std::string>& inForce,
                                       const std::vector<std::string>& refused,
                                       bool atStart) const {
  // What the scheduler runs now, against what it ran before: each change is
  // told, and nothing else (a reordering, a comment).
  const std::vector<std::string> started = Without(inForce, inForce_);
  const std::vector<std::string> stopped = Without(inForce_, inForce);
  const std::vector<std::string> newlyRefused = Without(refused, refused_);
  std::string report;
  if (!atStart && (!started.empty() || !stopped.empty())) {
    report += rt::JoinTexts("任务已更新: +", std::to_string(started.size()), " -",
                            std::to_string(stopped.size()), "\r\n");
  }
  for (const auto& line : stopped)
    report += rt::JoinTexts("任务已停止: ", rt::ShownText(line, kShownLineBytes), "\r\n");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (accepted[i] && Contains(started, lines[i])) {
      report +=
          rt::JoinTexts("任务已添加: ", rt::ShownText(lines[i], kShownLineBytes), "\r\n\r\n\r\n");
    } else if (!accepted[i] && Contains(newlyRefused, lines[i])) {
      report += RefusalLine(lines[i], reasons[i].empty() ? "格式错误" : reasons[i]);
    }
  }
  if (atStart && inForce.empty()) report += kNoUsableTaskAtStart;
  if (atStart || !started.empty() || !stopped.empty()) {
    // The start second fires unless an earlier run sent it; later the
    // scheduler may have evaluated the current second already.
    const std::int64_t now = cron::LocalSeconds(context_().clock->LocalTime());
    report += NextReminderLine(atStart ? doneUntil_.value_or(now - 1) : now);
  }
  return report;
}

std::string LiveSchedule::NextReminderLine(std::int64_t after) const {
  const cron::LocalZone zone(*context_().clock);  // never a time a daylight-saving gap skips
  std::optional<std::int64_t> first;
  for (const auto& task : tasks_) {
    if (const auto next = task.NextAfter(cron::TimeFromLocalSeconds(after), zone)) {
      const std::int64_t at = cron::LocalSeconds(*next);
      if (!first || at < *first) first = at;
    }
  }
  if (!first) return {};
  return rt::JoinTexts("下次提醒: ", rt::SystemTimeText(cron::TimeFromLocalSeconds(*first)),
                       "\r\n");
}

void LiveSchedule::ReportMissed(std::int64_t first, std::int64_t last) {
  const std::lock_guard lock(mutex_);
  const AppContext& ctx = context_();
  std::vector<const cron::Schedule*> schedules;
  schedules.reserve(tasks_.size());
  for (const auto& task : tasks_) schedules.push_back(&task);
  // Per task, so that a frequent one never crowds out a rare one.
  const auto missed = cron::MissedBetween(schedules, first, last, cron::LocalZone(*ctx.clock));
  // Times of day, with the date when it is not the day the jump ended on.
  const rt::SystemTime end = cron::TimeFromLocalSeconds(last + 1);
  const auto shown = [&end](std::int64_t second) {
    const rt::SystemTime at = cron::TimeFromLocalSeconds(second);
    const bool today = at.year == end.year && at.month == end.month && at.day == end.day;
    return today ? TimeOfDay(at) : rt::SystemTimeText(at);
  };
  for (const cron::MissedTask& task : missed) {
    const std::string name(schedules[task.index]->name());
    const bool few = task.count <= static_cast<std::int64_t>(task.times.size());
    std::string when;
    for (std::size_t i = 0; few && i < task.times.size(); ++i) {
      when += rt::JoinTexts(i ? "、" : "", shown(task.times[i]));
    }
    if (!few) when = rt::JoinTexts(shown(task.first), " 至 ", shown(task.last));
    ctx.console->Write(rt::JoinTexts("错过的提醒: ", rt::PrintableText(name), " ",
                                     std::to_string(task.count), " 次: ", when, " (", kMissedWhy,
                                     ")\r\n"));
    // Each missed reminder is accounted for: a line of its own when few,
    // else one line that counts them.
    const auto record = [&](std::int64_t second, std::string detail) {
      history_.Write(ctx,
                     {.scheduled = rt::DateTimeFromSystemTime(cron::TimeFromLocalSeconds(second)),
                      .task = name,
                      .verdict = "错过",
                      .tries = 0,
                      .detail = std::move(detail)});
    };
    if (few) {
      for (const std::int64_t second : task.times) record(second, std::string(kMissedWhy));
    } else {
      record(task.first,
             rt::JoinTexts(kMissedWhy, "，共 ", std::to_string(task.count), " 次，最后一次 ",
                           rt::SystemTimeText(cron::TimeFromLocalSeconds(task.last))));
    }
  }
}

std::optional<std::int64_t> LiveSchedule::NextFiring(std::string_view task, std::int64_t after) {
  const std::lock_guard lock(mutex_);
  const auto found = std::find_if(tasks_.begin(), tasks_.end(),
                                  [task](const cron::Schedule& s) { return s.name() == task; });
  if (found == tasks_.end()) return std::nullopt;
  const auto next =
      found->NextAfter(cron::TimeFromLocalSeconds(after), cron::LocalZone(*context_().clock));
  if (!next) return std::nullopt;
  return cron::LocalSeconds(*next);
}

std::string LiveSchedule::MessageOf(std::string_view task) {
  const std::lock_guard lock(mutex_);
  const auto found = messages_.find(std::string(task));
  return found == messages_.end() ? std::string() : found->second;
}

int LiveSchedule::TaskCount() {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(tasks_.size());
}

}  // namespace app
