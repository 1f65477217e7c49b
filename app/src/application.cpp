#include "application.h"

#include <algorithm>
#include <utility>

#include "app/exchange.h"
#include "app/message.h"
#include "app/reminder.h"
#include "app/report.h"
#include "crontab/schedule.h"
#include "runtime/datetime_text.h"
#include "runtime/file.h"
#include "runtime/frame.h"
#include "runtime/text.h"

namespace app {
namespace {

// How long the end of the program waits for tries still running before it
// settles them; within the stop steps' own grace.
constexpr int kEndGraceMs = 500;

// The pause between console lines.
constexpr int kPauseBetweenLinesMs = 300;

}  // namespace

Application& App() {
  static auto* app = new Application;
  return *app;
}

Application::Application()
    : own_{.openEditor = [](const rt::Path& path) { return rt::OpenTextEditor(path); },
           .pause =
               [] {
                 rt::DelayWithMessages(kPauseBetweenLinesMs, 0);
                 rt::ProcessPendingMessages();
               }},
      live_([this]() -> const AppContext& { return Context(); }, history_, OnReminderTrigger),
      deliveries_([this]() -> const AppContext& { return Context(); }, history_, &live_) {}

void Application::CreateScheduler() {
  scheduler_ = new crontab_handle{};
  crontab_Intialize(scheduler_);
}

void Application::DestroyScheduler() {
  if (!scheduler_) return;
  EndTimers();  // the file's watch uses the scheduler
  crontab_Destroy(scheduler_);
  delete scheduler_;
  scheduler_ = nullptr;
  // No tick comes any more: what is still open gets its verdict now.
  EndAll();
}

void Application::Begin(const rt::FileStamp& scheduleStamp,
                        std::optional<std::string_view> scheduleText) {
  AppContext& ctx = Context();
  rt::TimerQueue* timers = ctx.timers;
  if (!timers) {
    ownTimers_ = rt::CreateTimerQueue();
    timers = ownTimers_.get();
  }
  deliveries_.Open(timers);
  crontab_OnSkip(scheduler_, OnScheduleSkip);
  crontab_OnClockBack(scheduler_, OnClockSetBack);
  // A restart sends no second an earlier run recorded; a record ahead of
  // the clock (set back since) holds nothing back.
  const std::int64_t now = cron::LocalSeconds(ctx.clock->LocalTime());
  const std::int64_t done = std::min(LatestRecordedFiring(ctx).value_or(now - 1), now);
  crontab_DoneUntil(scheduler_, rt::DateTimeFromSystemTime(cron::TimeFromLocalSeconds(done)));
  live_.Begin(scheduler_, scheduleStamp, scheduleText, timers, done);
  ctx.console->Write("下面开始测试发送一次\r\n");
  // Off this thread, so that "q" is answered while the relay takes its time;
  // its verdict and "测试完成" follow when it ends.
  deliveries_.Start(rt::NowLocal(*ctx.clock), "", 1, "测试完成\r\n");
}

void Application::EndTimers() {
  deliveries_.EndRetries();
  live_.End();
  ownTimers_.reset();
}

void Application::EndRetries() {
  // No new reminder from here on: the scheduler stops, and a firing already
  // on its way is turned away.
  if (scheduler_) crontab_Stop(scheduler_, 0);
  EndTimers();
}

void Application::EndAll() {
  deliveries_.EndAll(kEndGraceMs);
}

void Application::Trigger(rt::DateTime fireTime, std::string task) {
  deliveries_.Start(fireTime, std::move(task));
}

void Application::ReportMissed(rt::DateTime firstSkipped, rt::DateTime lastSkipped) {
  const auto first = rt::SystemTimeFromDateTime(firstSkipped);
  const auto last = rt::SystemTimeFromDateTime(lastSkipped);
  if (first && last) live_.ReportMissed(cron::LocalSeconds(*first), cron::LocalSeconds(*last));
}

}  // namespace app
