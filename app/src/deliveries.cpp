#include "deliveries.h"

#include <utility>
#include <vector>

#include "app/reminder.h"
#include "app/report.h"
#include "crontab/schedule.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"
#include "web/web_request.h"

namespace app {
namespace {

// The verdict of a firing the end of the program cut short.
ExchangeOutcome CutShort(const Delivery& d) {
  if (d.retry != 0) {
    ExchangeOutcome outcome = d.last;
    outcome.detail = rt::JoinTexts(d.last.detail, "，程序结束，不再重试");
    return outcome;
  }
  // A try still waiting for a worker never went out.
  if (d.tries == 0) return {.detail = "程序结束，没有发送"};
  return {.detail = "程序结束时仍未收到回复"};
}

std::optional<std::int64_t> LocalSecondsOf(rt::DateTime t) {
  const auto time = rt::SystemTimeFromDateTime(t);
  if (!time) return std::nullopt;
  return cron::LocalSeconds(*time);
}

}  // namespace

Deliveries::Deliveries(std::function<const AppContext&()> context, History& history,
                       LiveSchedule* live, DeliveryLimits limits)
    : context_(std::move(context)),
      history_(history),
      live_(live),
      limits_(limits),
      pool_(limits.running) {}

void Deliveries::Open(rt::TimerQueue* timers) {
  {
    const std::lock_guard lock(mutex_);
    timers_ = timers;
  }
  accepting_.store(true);
}

void Deliveries::Close() {
  accepting_.store(false);
  const std::lock_guard lock(mutex_);
  timers_ = nullptr;
}

std::shared_ptr<const Delivery> Deliveries::Start(rt::DateTime fireTime, std::string task,
                                                  int maxTries, std::string_view closing) {
  if (!accepting_.load()) return nullptr;
  const AppContext& ctx = context_();
  auto d = std::make_shared<Delivery>();
  d->fireTime = fireTime;
  d->task = std::move(task);
  d->maxTries = maxTries;
  d->closing = closing;
  d->message = ComposeReminder(*ctx.clock, ctx.settings.siteUrl, d->task,
                               live_ ? live_->MessageOf(d->task) : std::string());
  {
    const std::lock_guard lock(mutex_);
    open_.insert(d);
  }
  Enqueue(d);
  return d;
}

void Deliveries::Enqueue(const std::shared_ptr<Delivery>& d) {
  bool full = false;
  {
    const std::lock_guard lock(mutex_);
    full = waiting_ >= limits_.waiting || web::AbandonedExchanges() >= limits_.unanswered;
    if (!full) {
      ++waiting_;
      d->waiting = true;
    }
  }
  if (full) {
    Settle(d, {.detail = "前面的发送都还在等待回复，这次没有发送"});
  } else if (!pool_.Post([this, d] { Try(d); })) {
    {
      const std::lock_guard lock(mutex_);
      --waiting_;
      d->waiting = false;
    }
    Settle(d, {.detail = "无法启动发送线程，没有发送"});
  }
}

void Deliveries::Try(const std::shared_ptr<Delivery>& d) {
  int tries = 0;
  {
    const std::lock_guard lock(mutex_);
    --waiting_;
    d->waiting = false;
    if (!open_.contains(d)) return;  // settled by the end of the program
    tries = ++d->tries;
  }
  // The key is read for every try: a key fixed meanwhile counts.
  const AppContext& ctx = context_();
  const ExchangeOutcome outcome = Exchange(ctx, ReadKey(ctx), d->message.title, d->message.body);
  {
    const std::lock_guard lock(mutex_);
    if (!open_.contains(d)) return;
    d->last = outcome;
  }
  const bool worthAnother = !outcome.accepted && outcome.retry && tries < d->maxTries;
  if (worthAnother && ArrangeRetry(d, outcome, tries)) return;
  Settle(d, outcome);
}

bool Deliveries::ArrangeRetry(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome,
                              int tries) {
  const auto delay = RetryDelaySeconds(tries);
  if (!delay) return false;
  const AppContext& ctx = context_();
  // No retry once the task's own next reminder would come first anyway.
  const std::int64_t now = cron::LocalSeconds(ctx.clock->LocalTime());
  const auto fired = LocalSecondsOf(d->fireTime);
  if (live_ && fired) {
    const auto next = live_->NextFiring(d->task, *fired);
    if (next && *next <= now + *delay) return false;
  }
  const std::string announcement =
      rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)),
                    ShowTaskNames() ? ShownTaskName(d->task) : "", " ", outcome.detail, "，",
                    std::to_string(*delay), " 秒后第 ", std::to_string(tries), " 次重试\r\n");
  const std::lock_guard lock(mutex_);
  if (!timers_ || !open_.contains(d)) return false;
  // The timer's call takes the lock first, so it finds the id stored.
  d->retry = timers_->CreateTimer(
      [this, d](rt::TimerTick&) {
        {
          const std::lock_guard held(mutex_);
          if (d->retry == 0) return;  // the retries ended meanwhile
          d->retry = 0;
        }
        Enqueue(d);
      },
      static_cast<std::uint32_t>(*delay) * 1000, 0);
  if (d->retry == 0) return false;
  ctx.console->Write(announcement);
  return true;
}

void Deliveries::Settle(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome) {
  int tries = 0;
  {
    const std::lock_guard lock(mutex_);
    if (open_.erase(d) == 0) return;
    d->retry = 0;
    d->last = outcome;
    tries = d->tries;
  }
  const AppContext& ctx = context_();
  ReportDelivery(ctx, history_, outcome,
                 {.scheduled = d->fireTime,
                  .task = d->task,
                  .showTask = !d->task.empty() && ShowTaskNames(),
                  .tries = tries,
                  .closing = d->closing});
}

bool Deliveries::ShowTaskNames() const {
  return live_ && live_->TaskCount() > 1;
}

void Deliveries::SettleOpen(const std::function<bool(const Delivery&)>& pick) {
  std::vector<std::pair<std::shared_ptr<Delivery>, ExchangeOutcome>> ended;
  std::vector<rt::TimerId> retries;
  rt::TimerQueue* timers = nullptr;
  {
    const std::lock_guard lock(mutex_);
    timers = timers_;
    for (const auto& d : open_) {
      if (!pick(*d)) continue;
      ended.emplace_back(d, CutShort(*d));
      if (d->retry != 0) retries.push_back(std::exchange(d->retry, 0));
    }
  }
  // Without the lock: a retry's call that is running may be waiting for it.
  if (timers) {
    for (const rt::TimerId retry : retries) timers->DeleteTimer(retry, rt::TimerWait::kWait);
  }
  for (const auto& [d, outcome] : ended) Settle(d, outcome);
}

void Deliveries::EndRetries() {
  accepting_.store(false);
  SettleOpen([](const Delivery& d) { return d.retry != 0; });
  Close();
}

void Deliveries::EndAll(int graceMs) {
  accepting_.store(false);
  pool_.WaitIdle(graceMs);
  SettleOpen([](const Delivery&) { return true; });
  Close();
}

bool SendTestReminder(const AppContext& ctx) {
  History history;
  Deliveries once([&ctx]() -> const AppContext& { return ctx; }, history, nullptr);
  const auto d = once.Start(rt::NowLocal(*ctx.clock), "", 1);
  once.WaitIdle();
  return d->last.accepted;
}

}  // namespace app
