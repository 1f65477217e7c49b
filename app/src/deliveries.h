// One reminder from its firing to its verdict, in the order it happens:
// the message is composed, tried on a worker (each try one exchange with the
// relay), tried again on a timer while the relay may still take it, settled
// once and reported on the console and in the history. Firings run side by
// side, so that one slow relay answer delays no other reminder, and each is
// settled exactly once, however it ends: answered, given up after its tries,
// cut short by the end of the program, or never started.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "app/context.h"
#include "app/exchange.h"
#include "app/history.h"
#include "app/live.h"
#include "app/message.h"
#include "runtime/timer_queue.h"
#include "runtime/worker_pool.h"

namespace app {

// How many tries a firing gets, at most.
inline constexpr int kMaxTries = 3;

// Bounds that keep a relay that never answers from piling up firings.
struct DeliveryLimits {
  int running = 32;    // tries in an exchange at once: one worker each
  int waiting = 4096;  // tries waiting for a worker, in order
  // Exchanges given up at their time-out whose connections are still open:
  // past this many a firing is not tried.
  int unanswered = 64;
};

// One firing.
struct Delivery {
  rt::DateTime fireTime = 0;
  std::string task;  // "": the test reminder
  Composition message;
  int maxTries = kMaxTries;
  std::string_view closing;  // a line after the verdict's ("测试完成")
  // Guarded by the deliveries' lock.
  int tries = 0;          // a try counts once its exchange begins
  rt::TimerId retry = 0;  // the timer of the next try; 0: none arranged
  bool waiting = false;   // queued for a worker
  ExchangeOutcome last;   // of the latest try, then the verdict
};

class Deliveries {
 public:
  // live: the running schedule, for each task's message, its next firing
  // (no retry after it) and whether names are shown; nullptr: none (the
  // --test action). Both must outlive the object.
  Deliveries(std::function<const AppContext&()> context, History& history, LiveSchedule* live,
             DeliveryLimits limits = {});

  // Firings are taken (again, after EndRetries), their retries arranged on
  // these timers; nullptr: no retry. Not from a delivery's own thread.
  void Open(rt::TimerQueue* timers);

  // Composes the firing's message and queues its first try. Settled at
  // once, unsent, when too many tries wait or too many exchanges are still
  // unanswered (see DeliveryLimits). Nothing after EndRetries: nullptr.
  // Any thread.
  std::shared_ptr<const Delivery> Start(rt::DateTime fireTime, std::string task,
                                        int maxTries = kMaxTries, std::string_view closing = {});

  // After "q": no firing is taken any more, no retry is arranged, and the
  // firings that wait for one get their last failure as the verdict; tries
  // under way go on to theirs.
  void EndRetries();
  // Waits up to graceMs for the tries running or waiting, then settles
  // every open firing: the program ends.
  void EndAll(int graceMs);
  // Blocks until no try is queued or running (not from a try).
  void WaitIdle() { pool_.WaitIdle(); }

 private:
  void Enqueue(const std::shared_ptr<Delivery>& d);
  // On a worker: one exchange, then a retry or the verdict.
  void Try(const std::shared_ptr<Delivery>& d);
  // The next try after the tries-th failed; false when none is arranged.
  bool ArrangeRetry(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome, int tries);
  // Gives the verdict unless the firing was settled already.
  void Settle(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome);
  // Settles every open firing that `pick` (under the lock) selects, with
  // the verdict it returns.
  void SettleOpen(const std::function<bool(const Delivery&)>& pick);
  bool ShowTaskNames() const;
  void Close();

  const std::function<const AppContext&()> context_;
  History& history_;
  LiveSchedule* const live_;
  const DeliveryLimits limits_;
  std::atomic<bool> accepting_{true};

  std::mutex mutex_;  // guards what follows and each open Delivery's state
  std::set<std::shared_ptr<Delivery>> open_;
  int waiting_ = 0;  // tries queued for a worker
  rt::TimerQueue* timers_ = nullptr;

  rt::WorkerPool pool_;  // last: its workers end before the rest
};

}  // namespace app
