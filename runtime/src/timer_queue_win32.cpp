// Timer queue over the platform's timer queues. Timers run with
// WT_EXECUTELONGFUNCTION, so a long call gets a thread of its own and does not
// hold up the next tick; past the cap of running calls a tick returns at once.
// A one-shot timer is a platform timer of the longest period, since the
// platform does not re-arm a one-shot timer that has fired: its call may
// still move its next due time, and its later ticks start nothing.
#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/timer_queue.h"

namespace rt {
namespace {

constexpr DWORD kOneShotPeriod = 0xFFFFFFFE;

struct Timer {
  ~Timer() {
    if (done) CloseHandle(done);
  }
  DWORD PlatformPeriod() const { return period == 0 ? kOneShotPeriod : period; }

  TimerCallback callback;
  HANDLE queue = nullptr;
  HANDLE handle = nullptr;
  DWORD period = 0;
  // Set before the platform timer is deleted: a call the platform had
  // already queued then starts nothing.
  std::atomic<bool> deleted{false};
  // A one-shot timer whose call ended without setting it again.
  std::atomic<bool> spent{false};
  std::atomic<bool> rearmed{false};
  // Signalled once the platform has no call of a deleted timer left.
  HANDLE done = nullptr;
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
    if (timer_.deleted.load(std::memory_order_acquire)) return;
    timer_.rearmed.store(true);
    ChangeTimerQueueTimer(timer_.queue, timer_.handle, dueMs, timer_.PlatformPeriod());
  }

 private:
  Timer& timer_;
};

VOID CALLBACK Fire(PVOID parameter, BOOLEAN) {
  auto& timer = *static_cast<Timer*>(parameter);
  if (timer.deleted.load(std::memory_order_acquire) || timer.spent.load()) return;
  if (timer.running->fetch_add(1) >= kMaxRunningCalls) {
    timer.running->fetch_sub(1);
    return;
  }
  const Timer* outer = currentTimer;
  currentTimer = &timer;
  Tick tick(timer);
  timer.rearmed.store(false);
  timer.callback(tick);
  currentTimer = outer;
  if (timer.period == 0 && !timer.rearmed.load()) timer.spent.store(true);
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
    ChangeTimerQueueTimer(queue_, timer->handle, dueMs, timer->PlatformPeriod());
    // Spent one-shot timers (retries, say) go now, so that none piles up.
    for (auto it = timers_.begin(); it != timers_.end();) {
      if (it->second->spent.load()) {
        it->second->deleted.store(true, std::memory_order_release);
        Retire(std::move(it->second));
        it = timers_.erase(it);
      } else {
        ++it;
      }
    }
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
    const bool known = !timer->spent.load();
    const bool waits = wait == TimerWait::kWait && currentTimer != timer.get();
    if (waits) {
      DeleteTimerQueueTimer(timer->queue, timer->handle, INVALID_HANDLE_VALUE);
      return known;
    }
    const std::lock_guard lock(mutex_);
    Retire(std::move(timer));
    return known;
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
    for (auto& [id, timer] : timers_) static_cast<void>(timer.release());
    for (auto& timer : retired_) static_cast<void>(timer.release());
  }

 private:
  // With the lock held. A running call may still use the timer: it is
  // freed once the platform says its calls are over (or with the queue).
  void Retire(std::unique_ptr<Timer> timer) {
    timer->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DeleteTimerQueueTimer(timer->queue, timer->handle, timer->done);
    std::erase_if(retired_, [](const std::unique_ptr<Timer>& t) {
      return t->done && WaitForSingleObject(t->done, 0) == WAIT_OBJECT_0;
    });
    retired_.push_back(std::move(timer));
  }

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
