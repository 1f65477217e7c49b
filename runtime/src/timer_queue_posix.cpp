// Timer queue on std::thread: one dispatcher thread keeps the due times and
// hands calls to a worker pool, which starts a worker whenever none is free,
// so a long call never delays another.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/timer_queue.h"
#include "runtime/worker_pool.h"

namespace rt {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Timer {
  TimerId id = 0;
  TimerCallback callback;
  SteadyClock::time_point due;
  std::chrono::milliseconds period{0};
  bool armed = true;  // a one-shot timer is disarmed once its call is handed on
  bool deleted = false;
  bool queued = false;  // a call waits for a worker
  int running = 0;
};

// Shared by the queue object, its dispatcher and its calls, so that calls
// may outlive a queue closed without waiting.
struct QueueState {
  std::mutex mutex;
  std::condition_variable dispatchCv;  // due times changed, or closed
  std::condition_variable doneCv;      // a call finished
  // Every timer not deleted; a spent one-shot timer leaves once its call ends.
  std::map<TimerId, std::shared_ptr<Timer>> timers;
  TimerId lastId = 0;
  bool closed = false;
  WorkerPool pool{kMaxRunningCalls};
};

// The timer whose call runs on this thread, if any.
thread_local const Timer* currentTimer = nullptr;

class Tick final : public TimerTick {
 public:
  Tick(QueueState& state, Timer& timer) : state_(state), timer_(timer) {}
  void SetNextDue(std::uint32_t dueMs) override {
    std::lock_guard lock(state_.mutex);
    if (timer_.deleted) return;
    timer_.due = SteadyClock::now() + std::chrono::milliseconds(dueMs);
    timer_.armed = true;
    state_.dispatchCv.notify_one();
  }

 private:
  QueueState& state_;
  Timer& timer_;
};

void RunCall(const std::shared_ptr<QueueState>& state, const std::shared_ptr<Timer>& timer) {
  {
    std::lock_guard lock(state->mutex);
    timer->queued = false;
    if (timer->deleted) return;
    ++timer->running;
  }
  currentTimer = timer.get();
  Tick tick(*state, *timer);
  timer->callback(tick);
  currentTimer = nullptr;
  std::lock_guard lock(state->mutex);
  --timer->running;
  if (!timer->armed && !timer->deleted) {
    timer->deleted = true;  // spent: unknown from now on
    state->timers.erase(timer->id);
  }
  state->doneCv.notify_all();
}

// The armed timer due first.
std::shared_ptr<Timer> NextDue(const QueueState& state) {
  std::shared_ptr<Timer> next;
  for (const auto& entry : state.timers) {
    const auto& timer = entry.second;
    if (timer->armed && (!next || timer->due < next->due)) next = timer;
  }
  return next;
}

void DispatchLoop(const std::shared_ptr<QueueState>& state) {
  std::unique_lock lock(state->mutex);
  while (!state->closed) {
    const std::shared_ptr<Timer> next = NextDue(*state);
    if (!next) {
      state->dispatchCv.wait(lock);
      continue;
    }
    const auto now = SteadyClock::now();
    if (now < next->due) {
      state->dispatchCv.wait_until(lock, next->due);
      continue;  // due times may have changed meanwhile
    }
    // A tick that finds the timer's last call still waiting for a worker is
    // dropped: ticks never pile up, however slowly threads start.
    if (!next->queued) {
      next->queued = true;
      if (!state->pool.Post([state, next] { RunCall(state, next); })) next->queued = false;
    }
    if (next->period.count() == 0) {
      next->armed = false;
      continue;
    }
    // A late dispatcher does not make up for lost periods.
    next->due += next->period;
    if (next->due <= now) next->due = now + next->period;
  }
}

class PosixTimerQueue final : public TimerQueue {
 public:
  PosixTimerQueue() : state_(std::make_shared<QueueState>()) {
    dispatcher_ = std::thread(DispatchLoop, state_);
  }
  ~PosixTimerQueue() override {
    if (!closed_) Close(TimerWait::kWait);
  }

  TimerId CreateTimer(TimerCallback callback, std::uint32_t dueMs,
                      std::uint32_t periodMs) override {
    if (!callback) return 0;
    auto timer = std::make_shared<Timer>();
    timer->callback = std::move(callback);
    timer->period = std::chrono::milliseconds(periodMs);
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return 0;
    timer->id = ++state_->lastId;
    timer->due = SteadyClock::now() + std::chrono::milliseconds(dueMs);
    state_->timers.emplace(timer->id, timer);
    state_->dispatchCv.notify_one();
    return timer->id;
  }

  bool DeleteTimer(TimerId id, TimerWait wait) override {
    std::unique_lock lock(state_->mutex);
    auto found = state_->timers.find(id);
    if (found == state_->timers.end()) return false;
    std::shared_ptr<Timer> timer = std::move(found->second);
    state_->timers.erase(found);
    timer->deleted = true;
    state_->dispatchCv.notify_one();
    if (wait == TimerWait::kWait && currentTimer != timer.get()) {
      state_->doneCv.wait(lock, [&] { return timer->running == 0; });
    }
    return true;
  }

  void Close(TimerWait wait) override {
    {
      std::lock_guard lock(state_->mutex);
      if (closed_) return;
      closed_ = true;
      state_->closed = true;
      for (auto& entry : state_->timers) entry.second->deleted = true;
      state_->timers.clear();
      state_->dispatchCv.notify_all();
    }
    dispatcher_.join();  // it runs no calls: never long
    // A queue closed from one of its own calls cannot wait for that call.
    state_->pool.Close(wait == TimerWait::kWait);
  }

 private:
  std::shared_ptr<QueueState> state_;
  std::thread dispatcher_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<TimerQueue> CreateTimerQueue() {
  return std::make_unique<PosixTimerQueue>();
}

}  // namespace rt
