#include "application.h"

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

std::optional<std::int64_t> LocalSecondsOf(rt::DateTime t) {
  const auto time = rt::SystemTimeFromDateTime(t);
  if (!time) return std::nullopt;
  return cron::LocalSeconds(*time);
}

}  // namespace

Application& App() {
  static auto* app = new Application;
  return *app;
}

Application::Application()
    : own_{.openEditor = [](const rt::Path& path) { return rt::OpenTextEditor(path); },
           .pause =
               [] {
                 rt::DelayWithMessages(300, 0);
                 rt::ProcessPendingMessages();
               }},
      live_([this]() -> const AppContext& { return Context(); }, history_),
      deliveries_(kMaxDeliveriesInFlight,
                  {.exchange =
                       [this](const Delivery& d) {
                         // The key is read for every try: a key fixed meanwhile counts.
                         const AppContext& ctx = Context();
                         return Exchange(ctx, ReadKey(ctx), d.message.title, d.message.body);
                       },
                   .arrangeRetry =
                       [this](const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome,
                              int attempts) { return ArrangeRetry(d, outcome, attempts); },
                   .report = [this](const Delivery& d, const ExchangeOutcome& outcome,
                                    int attempts) { Report(d, outcome, attempts); }}) {}

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
  {
    const std::lock_guard lock(mutex_);
    timers_ = timers;
  }
  accepting_.store(true);
  crontab_OnSkip(scheduler_, OnScheduleSkip);
  crontab_OnClockBack(scheduler_, OnClockSetBack);
  live_.Begin(scheduler_, scheduleStamp, scheduleText, timers);
  ctx.console->Write("下面开始测试发送一次\r\n");
  // Off this thread, so that "q" is answered while the relay takes its time;
  // its verdict and "测试完成" follow when it ends.
  const auto test = NewDelivery(rt::NowLocal(*ctx.clock), "");
  test->maxAttempts = 1;
  deliveries_.Start(test);
}

void Application::EndTimers() {
  rt::TimerQueue* timers = nullptr;
  std::set<rt::TimerId> retries;
  {
    const std::lock_guard lock(mutex_);
    timers = std::exchange(timers_, nullptr);
    retries = std::exchange(retries_, {});
  }
  live_.End();
  // Without the lock: a running retry's call may be waiting for it.
  if (timers) {
    for (const rt::TimerId retry : retries) timers->DeleteTimer(retry, rt::TimerWait::kWait);
  }
  ownTimers_.reset();
}

void Application::EndRetries() {
  // No new reminder from here on: the scheduler stops, and a firing already
  // on its way is turned away.
  accepting_.store(false);
  if (scheduler_) crontab_Stop(scheduler_, 0);
  EndTimers();
  deliveries_.EndRetries();
}

void Application::EndAll() {
  deliveries_.EndAll(kEndGraceMs);
}

void Application::Trigger(rt::DateTime fireTime, std::string task) {
  if (!accepting_.load()) return;
  deliveries_.Start(NewDelivery(fireTime, std::move(task)));
}

void Application::ReportMissed(rt::DateTime firstSkipped, rt::DateTime lastSkipped) {
  const auto first = LocalSecondsOf(firstSkipped);
  const auto last = LocalSecondsOf(lastSkipped);
  if (first && last) live_.ReportMissed(*first, *last);
}

void Application::Report(const Delivery& d, const ExchangeOutcome& outcome, int attempts) {
  const AppContext& ctx = Context();
  const bool test = d.task.empty();
  ReportDelivery(ctx, history_, outcome,
                 {.scheduled = d.fireTime,
                  .task = d.task,
                  .showTask = !test && live_.TaskCount() > 1,
                  .attempts = attempts});
  if (test) ctx.console->Write("测试完成\r\n");
}

std::shared_ptr<Delivery> Application::NewDelivery(rt::DateTime fireTime, std::string task) {
  AppContext& ctx = Context();
  auto d = std::make_shared<Delivery>();
  d->fireTime = fireTime;
  d->task = std::move(task);
  // The test reminder (no name) says what every reminder said before tasks
  // had messages of their own.
  d->message = ComposeReminder(*ctx.clock, ctx.settings.siteUrl, d->task, live_.MessageOf(d->task));
  return d;
}

bool Application::ArrangeRetry(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome,
                               int attempts) {
  const auto delay = RetryDelaySeconds(attempts);
  if (!delay) return false;
  AppContext& ctx = Context();
  // No retry once the task's own next reminder would come first anyway.
  const std::int64_t now = cron::LocalSeconds(ctx.clock->LocalTime());
  if (const auto fired = LocalSecondsOf(d->fireTime)) {
    const auto next = live_.NextFiring(d->task, *fired);
    if (next && *next <= now + *delay) return false;
  }
  const bool showTask = live_.TaskCount() > 1;
  const std::string announcement =
      rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)),
                    showTask ? ShownTaskName(d->task) : std::string(), " ", outcome.detail, "，",
                    std::to_string(*delay), " 秒后第 ", std::to_string(attempts), " 次重试\r\n");
  return ScheduleRetry(static_cast<std::uint32_t>(*delay) * 1000, announcement,
                       [this, d] { deliveries_.Retry(d); });
}

bool Application::ScheduleRetry(std::uint32_t delayMs, std::string_view announcement,
                                std::function<void()> job) {
  const std::lock_guard lock(mutex_);
  if (!timers_) return false;
  // The id is stored before the lock is released, so the call always finds it.
  auto id = std::make_shared<rt::TimerId>(0);
  *id = timers_->CreateTimer(
      [this, id, job = std::move(job)](rt::TimerTick&) {
        {
          const std::lock_guard held(mutex_);
          if (retries_.erase(*id) == 0) return;  // ended meanwhile
        }
        job();
      },
      delayMs, 0);
  if (*id == 0) return false;
  retries_.insert(*id);
  Context().console->Write(announcement);
  return true;
}

}  // namespace app
