// Timer queue over the platform's timer queues. Timers run with
// WT_EXECUTELONGFUNCTION, so a long call gets a thread of its own and does not
// hold up the next tick; past the cap of running calls a tick returns at once.
#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/timer_queue.h"

namespace rt {
namespace {

struct Timer {
  TimerCallback callback;
  HANDLE queue = nullptr;
  HANDLE handle = nullptr;
  DWORD period = 0;
  // Set before the platform timer is deleted: a call the platform had
  // already queued then starts nothing.
  std::atomic<bool> deleted{false};
  // Calls of the whole queue running now; shared, since calls may outlive a
  // queue closed without waiting.
  std::shared_ptr<std::atomic<int>> running;
};

// The timer whose call runs on this thread, if any.
thread_local const Timer* currentTimer = nullptr;

class Tick final : public TimerTick {
 public:
  explicit Tick(Timer& timer) : timer_(timer) {}
  void SetNextDue(std::uint32_t dueMs) override {
    ChangeTimerQueueTimer(timer_.queue, timer_.handle, dueMs, timer_.period);
  }

 private:
  Timer& timer_;
};

VOID CALLBACK Fire(PVOID parameter, BOOLEAN) {
  auto& timer = *static_cast<Timer*>(parameter);
  if (timer.deleted.load(std::memory_order_acquire)) return;
  if (timer.running->fetch_add(1) >= kMaxRunningCalls) {
    timer.running->fetch_sub(1);
    return;
  }
  const Timer* outer = currentTimer;
  currentTimer = &timer;
  Tick tick(timer);
  timer.callback(tick);
  currentTimer = outer;
  timer.running->fetch_sub(1);
}

class Win32TimerQueue final : public TimerQueue {
 public:
  explicit Win32TimerQueue(HANDLE queue) : queue_(queue) {}
  ~Win32TimerQueue() override {
    if (queue_) Close(TimerWait::kWait);
  }

  TimerId CreateTimer(TimerCallback callback, std::uint32_t dueMs,
                      std::uint32_t periodMs) override {
    const std::lock_guard lock(mutex_);
    if (!queue_) return 0;
    auto timer = std::make_unique<Timer>();
    timer->callback = std::move(callback);
    timer->queue = queue_;
    timer->period = periodMs;
    timer->running = running_;
    // Made idle and armed once its handle is stored, since a call may move
    // its own next due time through that handle.
    if (!CreateTimerQueueTimer(&timer->handle, queue_, Fire, timer.get(), INFINITE, 0,
                               WT_EXECUTELONGFUNCTION)) {
      return 0;
    }
    ChangeTimerQueueTimer(queue_, timer->handle, dueMs, periodMs);
    const TimerId id = ++lastId_;
    timers_.emplace(id, std::move(timer));
    return id;
  }

  bool DeleteTimer(TimerId id, TimerWait wait) override {
    std::unique_ptr<Timer> timer;
    {
      const std::lock_guard lock(mutex_);
      const auto it = timers_.find(id);
      if (it == timers_.end()) return false;
      timer = std::move(it->second);
      timers_.erase(it);
    }
    timer->deleted.store(true, std::memory_order_release);
    const bool waits = wait == TimerWait::kWait && currentTimer != timer.get();
    DeleteTimerQueueTimer(timer->queue, timer->handle, waits ? INVALID_HANDLE_VALUE : nullptr);
    if (!waits) {
      // A running call still uses it; it is freed when the queue is.
      const std::lock_guard lock(mutex_);
      retired_.push_back(std::move(timer));
    }
    return true;
  }

  void Close(TimerWait wait) override {
    HANDLE queue = nullptr;
    {
      const std::lock_guard lock(mutex_);
      std::swap(queue, queue_);
      for (auto& [id, timer] : timers_) timer->deleted.store(true, std::memory_order_release);
    }
    if (!queue) return;
    if (wait == TimerWait::kWait) {
      DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE);
      return;
    }
    DeleteTimerQueueEx(queue, nullptr);
    // Calls still running read their timers: those stay alive for good.
    const std::lock_guard lock(mutex_);
    for (auto& [id, timer] : timers_) timer.release();
    for (auto& timer : retired_) timer.release();
  }

 private:
  std::mutex mutex_;
  HANDLE queue_;
  std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
  std::map<TimerId, std::unique_ptr<Timer>> timers_;
  std::vector<std::unique_ptr<Timer>> retired_;
  TimerId lastId_ = 0;
};

}  // namespace

std::unique_ptr<TimerQueue> CreateTimerQueue() {
  HANDLE queue = ::CreateTimerQueue();
  if (!queue) return nullptr;
  return std::make_unique<Win32TimerQueue>(queue);
}

}  // namespace rt
