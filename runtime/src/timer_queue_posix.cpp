// Timer queue on std::thread: one dispatcher thread keeps the due times and
// hands calls to worker threads; a new worker is started whenever none is
// idle, so a long call never delays another.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/timer_queue.h"

namespace rt {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Timer {
  TimerId id = 0;
  TimerCallback callback;
  SteadyClock::time_point due;
  std::chrono::milliseconds period{0};
  bool deleted = false;
  bool queued = false;  // a call waits for a worker
  int running = 0;
};

// Shared by the queue object and its threads, so that threads may outlive a
// queue closed without waiting.
struct QueueState {
  std::mutex mutex;
  std::condition_variable dispatchCv;  // due times changed, or closed
  std::condition_variable workCv;      // a job is waiting, or closed
  std::condition_variable doneCv;      // a call finished
  std::map<TimerId, std::shared_ptr<Timer>> timers;
  std::deque<std::shared_ptr<Timer>> jobs;
  std::vector<std::thread> threads;
  TimerId lastId = 0;
  int workers = 0;
  int idleWorkers = 0;
  int startingWorkers = 0;  // made, but not yet waiting for a job
  bool closed = false;
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
    state_.dispatchCv.notify_one();
  }

 private:
  QueueState& state_;
  Timer& timer_;
};

void WorkerLoop(std::shared_ptr<QueueState> state) {
  std::unique_lock lock(state->mutex);
  --state->startingWorkers;
  for (;;) {
    ++state->idleWorkers;
    state->workCv.wait(lock, [&] { return state->closed || !state->jobs.empty(); });
    --state->idleWorkers;
    if (state->closed) return;
    std::shared_ptr<Timer> timer = std::move(state->jobs.front());
    state->jobs.pop_front();
    timer->queued = false;
    if (timer->deleted) continue;
    ++timer->running;
    lock.unlock();
    currentTimer = timer.get();
    Tick tick(*state, *timer);
    timer->callback(tick);
    currentTimer = nullptr;
    lock.lock();
    --timer->running;
    state->doneCv.notify_all();
  }
}

// Called with the lock held. A worker already starting counts, and past the
// cap jobs wait for a running call to end.
void StartWorkerIfNeeded(const std::shared_ptr<QueueState>& state) {
  const int waiting = static_cast<int>(state->jobs.size());
  if (state->idleWorkers + state->startingWorkers >= waiting ||
      state->workers >= kMaxRunningCalls) {
    state->workCv.notify_one();
    return;
  }
  try {
    state->threads.emplace_back(WorkerLoop, state);
  } catch (const std::system_error&) {
    return;  // the job waits for a worker that ends its call, or the next tick's try
  }
  ++state->workers;
  ++state->startingWorkers;
}

void DispatchLoop(std::shared_ptr<QueueState> state) {
  std::unique_lock lock(state->mutex);
  while (!state->closed) {
    std::shared_ptr<Timer> next;
    for (auto& entry : state->timers) {
      if (!next || entry.second->due < next->due) next = entry.second;
    }
    if (!next) {
      state->dispatchCv.wait(lock);
      continue;
    }
    auto now = SteadyClock::now();
    if (now < next->due) {
      state->dispatchCv.wait_until(lock, next->due);
      continue;  // due times may have changed meanwhile
    }
    // A tick that finds the timer's last call still waiting for a worker is
    // dropped: ticks never pile up, however slowly threads start.
    if (!next->queued) {
      next->queued = true;
      state->jobs.push_back(next);
    }
    StartWorkerIfNeeded(state);
    if (next->period.count() == 0) {
      next->deleted = true;
      state->timers.erase(next->id);
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
    state_->threads.emplace_back(DispatchLoop, state_);
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
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(state_->mutex);
      if (closed_) return;
      closed_ = true;
      state_->closed = true;
      for (auto& entry : state_->timers) entry.second->deleted = true;
      state_->timers.clear();
      state_->jobs.clear();
      threads.swap(state_->threads);
      state_->dispatchCv.notify_all();
      state_->workCv.notify_all();
    }
    for (auto& thread : threads) {
      // A queue closed from one of its own calls cannot wait for that call.
      if (wait == TimerWait::kWait && thread.get_id() != std::this_thread::get_id()) {
        thread.join();
      } else {
        thread.detach();
      }
    }
  }

 private:
  std::shared_ptr<QueueState> state_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<TimerQueue> CreateTimerQueue() {
  return std::make_unique<PosixTimerQueue>();
}

}  // namespace rt
