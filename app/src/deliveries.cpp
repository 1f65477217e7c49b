#include "deliveries.h"

#include <vector>

#include "app/exchange.h"
#include "runtime/text.h"

namespace app {
namespace {

// The verdict of a firing the end of the program cut short.
ExchangeOutcome CutShort(const Delivery& d) {
  if (d.retryPending) {
    ExchangeOutcome outcome = d.last;
    outcome.detail = rt::JoinTexts(d.last.detail, "，程序结束，不再重试");
    return outcome;
  }
  // A try still waiting for a worker never went out.
  if (d.attempts == 0) return {.detail = "程序结束，没有发送"};
  return {.detail = "程序结束时仍未收到回复"};
}

}  // namespace

void Deliveries::Start(const std::shared_ptr<Delivery>& d) {
  {
    const std::lock_guard lock(mutex_);
    open_.insert(d);
  }
  Enqueue(d);
}

void Deliveries::Retry(const std::shared_ptr<Delivery>& d) {
  {
    const std::lock_guard lock(mutex_);
    if (!open_.contains(d) || !d->retryPending) return;
    d->retryPending = false;
  }
  Enqueue(d);
}

void Deliveries::Enqueue(const std::shared_ptr<Delivery>& d) {
  bool full = false;
  {
    const std::lock_guard lock(mutex_);
    full = tries_ >= maxTries_;
    if (!full) ++tries_;
  }
  if (full) {
    Settle(d, {.detail = "前面的发送都还在等待回复，这次没有发送"});
  } else if (!pool_.Post([this, d] { Run(d); })) {
    {
      const std::lock_guard lock(mutex_);
      --tries_;
    }
    Settle(d, {.detail = "无法启动发送线程，没有发送"});
  }
}

void Deliveries::Run(const std::shared_ptr<Delivery>& d) {
  // However the try ends, it no longer counts against the bound.
  struct Ended {
    Deliveries& self;
    ~Ended() {
      const std::lock_guard lock(self.mutex_);
      --self.tries_;
    }
  } ended{*this};
  int attempts = 0;
  {
    const std::lock_guard lock(mutex_);
    if (!open_.contains(d)) return;  // settled by the end of the program
    attempts = ++d->attempts;        // a try counts once it is made
  }
  const ExchangeOutcome outcome = hooks_.exchange(*d);
  bool retry = false;
  {
    const std::lock_guard lock(mutex_);
    if (!open_.contains(d)) return;
    d->last = outcome;
    // Pending before the retry's timer exists, so that its call finds it.
    retry = d->retryPending = !outcome.accepted && outcome.retry && attempts < d->maxAttempts;
  }
  if (retry && hooks_.arrangeRetry(d, outcome, attempts)) return;
  Settle(d, outcome);
}

void Deliveries::Settle(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome) {
  int attempts = 0;
  {
    const std::lock_guard lock(mutex_);
    if (open_.erase(d) == 0) return;
    d->retryPending = false;
    attempts = d->attempts;
  }
  hooks_.report(*d, outcome, attempts);
}

void Deliveries::EndRetries() {
  std::vector<std::pair<std::shared_ptr<Delivery>, ExchangeOutcome>> ended;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& d : open_) {
      if (d->retryPending) ended.emplace_back(d, CutShort(*d));
    }
  }
  for (const auto& [d, outcome] : ended) Settle(d, outcome);
}

void Deliveries::EndAll(int graceMs) {
  pool_.WaitIdle(graceMs);
  std::vector<std::pair<std::shared_ptr<Delivery>, ExchangeOutcome>> ended;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& d : open_) ended.emplace_back(d, CutShort(*d));
  }
  for (const auto& [d, outcome] : ended) Settle(d, outcome);
}

}  // namespace app
