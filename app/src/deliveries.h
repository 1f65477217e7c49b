// Every reminder from its tick to its one verdict: deliveries run on a pool
// of workers, so that one slow relay answer delays no other reminder, and
// each firing is settled exactly once, however it ends (answered, given up
// after its tries, cut short by the end of the program, or never started).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "app/exchange.h"
#include "app/message.h"
#include "runtime/worker_pool.h"

namespace app {

// One firing, composed once and tried up to its allowance.
struct Delivery {
  rt::DateTime fireTime = 0;
  std::string task;  // "": the test reminder at start
  Composition message;
  int maxAttempts = 3;
  // Guarded by the owner's lock.
  int attempts = 0;
  bool retryPending = false;
  ExchangeOutcome last;  // of the latest try
};

// What the deliveries ask of the program around them.
struct DeliveryHooks {
  // One try of d: one exchange with the relay.
  std::function<ExchangeOutcome(const Delivery& d)> exchange;
  // Arranges another try of d after its attempts-th try failed with
  // outcome, and announces it; false when none is made (no tries left
  // before the task's own next reminder, or the program ends).
  std::function<bool(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome,
                     int attempts)>
      arrangeRetry;
  // The verdict of d, final: on the console and in the history.
  std::function<void(const Delivery& d, const ExchangeOutcome& outcome, int attempts)> report;
};

class Deliveries {
 public:
  // At most maxInFlight tries run at once, and as many more wait for a
  // worker: a relay that holds every try cannot make firings pile up.
  Deliveries(int maxInFlight, DeliveryHooks hooks)
      : hooks_(std::move(hooks)), maxTries_(2 * maxInFlight), pool_(maxInFlight) {}

  // Opens the firing and runs its first try on a worker.
  void Start(const std::shared_ptr<Delivery>& d);
  // Runs another try on a worker (a retry's timer calls it); nothing when
  // the firing was settled meanwhile.
  void Retry(const std::shared_ptr<Delivery>& d);

  // Settles every firing that waits for a retry: its last failure is final.
  void EndRetries();
  // Waits up to graceMs for running tries, then settles every open firing.
  void EndAll(int graceMs);
  // Blocks until no try is queued or running.
  void WaitIdle() { pool_.WaitIdle(); }

 private:
  void Run(const std::shared_ptr<Delivery>& d);
  void Enqueue(const std::shared_ptr<Delivery>& d);
  // Reports the verdict unless the firing was settled already.
  void Settle(const std::shared_ptr<Delivery>& d, const ExchangeOutcome& outcome);

  const DeliveryHooks hooks_;
  const int maxTries_;
  std::mutex mutex_;
  std::set<std::shared_ptr<Delivery>> open_;
  int tries_ = 0;  // posted and not yet ended: running or waiting for a worker
  rt::WorkerPool pool_;
};

}  // namespace app
