// Simulated time for whole-program tests: a wall clock and a timer queue
// that move only when the test says so. Due timers run on the test's thread,
// in order, with the clock set to their due time; a wall-clock jump (sleep,
// a clock correction) moves the clock without running anything.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "crontab/schedule.h"
#include "runtime/clock.h"
#include "runtime/timer_queue.h"

namespace app {

class SimTime final : public rt::Clock, public rt::TimerQueue {
 public:
  explicit SimTime(const rt::SystemTime& start)
      : wallBaseMs_(cron::LocalSeconds(start) * 1000 + start.milliseconds) {}

  rt::SystemTime LocalTime() override {
    const std::lock_guard lock(mutex_);
    const std::int64_t wall = wallBaseMs_ + monoMs_;
    rt::SystemTime t = cron::TimeFromLocalSeconds(wall / 1000);
    t.milliseconds = static_cast<int>(wall % 1000);
    return t;
  }

  rt::TimerId CreateTimer(rt::TimerCallback callback, std::uint32_t dueMs,
                          std::uint32_t periodMs) override {
    const std::lock_guard lock(mutex_);
    const rt::TimerId id = ++lastId_;
    timers_[id] = std::make_shared<Timer>(Timer{std::move(callback), monoMs_ + dueMs, periodMs});
    return id;
  }
  // Nothing waits: calls run on the test's thread, between Advance calls.
  bool DeleteTimer(rt::TimerId timer, rt::TimerWait) override {
    const std::lock_guard lock(mutex_);
    return timers_.erase(timer) == 1;
  }
  void Close(rt::TimerWait) override {
    const std::lock_guard lock(mutex_);
    timers_.clear();
  }

  // Runs every timer due within the next ms milliseconds.
  void Advance(std::int64_t ms) {
    std::unique_lock lock(mutex_);
    const std::int64_t target = monoMs_ + ms;
    for (;;) {
      auto next = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second->due <= target &&
            (next == timers_.end() || it->second->due < next->second->due)) {
          next = it;
        }
      }
      if (next == timers_.end()) break;
      const rt::TimerId id = next->first;
      const std::shared_ptr<Timer> timer = next->second;
      monoMs_ = std::max(monoMs_, timer->due);
      timer->nextDue.reset();
      lock.unlock();
      Tick tick(*this, *timer);
      timer->callback(tick);
      lock.lock();
      if (!timers_.count(id)) continue;  // deleted by its own call
      if (timer->nextDue) {
        timer->due = *timer->nextDue;
      } else if (timer->period > 0) {
        timer->due += timer->period;
      } else {
        timers_.erase(id);
      }
    }
    monoMs_ = target;
  }
  // Moves the wall clock alone, as a machine waking from sleep sees it.
  void Jump(std::int64_t ms) {
    const std::lock_guard lock(mutex_);
    wallBaseMs_ += ms;
  }
  std::int64_t ElapsedMs() {
    const std::lock_guard lock(mutex_);
    return monoMs_;
  }
  std::size_t PendingTimers() {
    const std::lock_guard lock(mutex_);
    return timers_.size();
  }

 private:
  struct Timer {
    rt::TimerCallback callback;
    std::int64_t due = 0;
    std::int64_t period = 0;
    std::optional<std::int64_t> nextDue{};
  };
  class Tick final : public rt::TimerTick {
   public:
    Tick(SimTime& sim, Timer& timer) : sim_(sim), timer_(timer) {}
    void SetNextDue(std::uint32_t dueMs) override {
      const std::lock_guard lock(sim_.mutex_);
      timer_.nextDue = sim_.monoMs_ + dueMs;
    }

   private:
    SimTime& sim_;
    Timer& timer_;
  };

  std::mutex mutex_;
  std::int64_t wallBaseMs_ = 0;
  std::int64_t monoMs_ = 0;
  rt::TimerId lastId_ = 0;
  std::map<rt::TimerId, std::shared_ptr<Timer>> timers_;
};

// A scheduler's own queue on the simulated timers: closing it deletes only
// the timers made through it.
class SimQueue final : public rt::TimerQueue {
 public:
  explicit SimQueue(SimTime& sim) : sim_(sim) {}
  ~SimQueue() override { Close(rt::TimerWait::kNoWait); }
  rt::TimerId CreateTimer(rt::TimerCallback callback, std::uint32_t dueMs,
                          std::uint32_t periodMs) override {
    const rt::TimerId id = sim_.CreateTimer(std::move(callback), dueMs, periodMs);
    const std::lock_guard lock(mutex_);
    mine_.insert(id);
    return id;
  }
  bool DeleteTimer(rt::TimerId timer, rt::TimerWait wait) override {
    {
      const std::lock_guard lock(mutex_);
      mine_.erase(timer);
    }
    return sim_.DeleteTimer(timer, wait);
  }
  void Close(rt::TimerWait wait) override {
    std::set<rt::TimerId> mine;
    {
      const std::lock_guard lock(mutex_);
      mine.swap(mine_);
    }
    for (const rt::TimerId id : mine) sim_.DeleteTimer(id, wait);
  }

 private:
  SimTime& sim_;
  std::mutex mutex_;
  std::set<rt::TimerId> mine_;
};

}  // namespace app
