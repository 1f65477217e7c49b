// Simulated time for tests and benchmarks: a wall clock and a timer queue
// that move only when the test says so. Advance runs due timers on the
// caller's thread, in order, with the clock at their due time; Fire runs a
// timer's call at once, for tests that keep their own clock; Jump moves the
// wall clock alone, as a sleep or a clock correction does. Deleting with
// kWait waits for calls running on other threads, as the platform's queue
// does, so that a test can tell a wait from none.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/calendar.h"
#include "runtime/clock.h"
#include "runtime/timer_queue.h"

namespace rt::testing {

class SimTime final : public Clock, public TimerQueue {
 public:
  explicit SimTime(const SystemTime& start = {2026, 12, 0, 6, 9, 1, 1, 0})
      : wallBaseMs_(MsOf(start)) {}

  SystemTime LocalTime() override {
    const std::lock_guard lock(mutex_);
    return TimeOf(wallBaseMs_ + monoMs_);
  }

  TimerId CreateTimer(TimerCallback callback, std::uint32_t dueMs,
                      std::uint32_t periodMs) override {
    std::unique_lock lock(mutex_);
    const TimerId id = ++lastId_;
    auto timer = std::make_shared<Timer>();
    timer->callback = std::move(callback);
    timer->due = monoMs_ + dueMs;
    timer->period = periodMs;
    const auto at = timers_.emplace(id, std::move(timer)).first;
    if (callOnCreate_) RunCall(lock, at, monoMs_);
    return id;
  }

  bool DeleteTimer(TimerId timer, TimerWait wait) override {
    std::unique_lock lock(mutex_);
    const auto it = timers_.find(timer);
    if (it == timers_.end()) return false;
    const std::vector<std::shared_ptr<Timer>> gone = {it->second};
    timers_.erase(it);
    if (wait == TimerWait::kWait) WaitForCalls(lock, gone);
    return true;
  }

  void Close(TimerWait wait) override {
    std::unique_lock lock(mutex_);
    std::vector<std::shared_ptr<Timer>> gone;
    for (auto& [id, timer] : timers_) gone.push_back(std::move(timer));
    timers_.clear();
    if (wait == TimerWait::kWait) WaitForCalls(lock, gone);
  }

  // Runs every call due within the next ms milliseconds, then leaves the
  // time ms later.
  void Advance(std::int64_t ms) {
    std::unique_lock lock(mutex_);
    const std::int64_t target = monoMs_ + ms;
    for (;;) {
      auto next = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        // Ties go to the older timer.
        if (it->second->due <= target &&
            (next == timers_.end() || it->second->due < next->second->due)) {
          next = it;
        }
      }
      if (next == timers_.end()) break;
      monoMs_ = std::max(monoMs_, next->second->due);
      RunCall(lock, next, next->second->due);
    }
    monoMs_ = std::max(monoMs_, target);
  }

  // Runs the next call of a timer (the newest when none is given) now,
  // without moving the time; false when there is no such timer. Calls may
  // run on several threads at once, as on the platform's queue.
  bool Fire(TimerId timer = 0) {
    std::unique_lock lock(mutex_);
    const auto it = timer == 0 ? Newest() : timers_.find(timer);
    if (it == timers_.end()) return false;
    RunCall(lock, it, monoMs_);
    return true;
  }

  // Milliseconds until the next call of a timer (the newest when none is
  // given): what its last call asked with SetNextDue, or its period.
  std::optional<std::int64_t> NextDueMs(TimerId timer = 0) {
    const std::lock_guard lock(mutex_);
    const auto it = timer == 0 ? Newest() : timers_.find(timer);
    if (it == timers_.end()) return std::nullopt;
    return it->second->due - monoMs_;
  }

  // The first call of each new timer runs inside CreateTimer, before it
  // returns the timer's id, as a platform's queue may do.
  void SetCallOnCreate(bool on) {
    const std::lock_guard lock(mutex_);
    callOnCreate_ = on;
  }

  // Called on the deleting thread when DeleteTimer or Close is about to wait
  // for a call running on another thread: a test may count the waits, or
  // release the call it holds.
  void SetBeforeWait(std::function<void()> hook) {
    const std::lock_guard lock(mutex_);
    beforeWait_ = std::move(hook);
  }

  // Moves the wall clock alone, as a machine waking from sleep sees it.
  void Jump(std::int64_t ms) {
    const std::lock_guard lock(mutex_);
    wallBaseMs_ += ms;
  }
  // Simulated time passed since the start.
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
    TimerCallback callback;
    std::int64_t due = 0;
    std::int64_t period = 0;
    std::multiset<std::thread::id> running;  // threads inside a call
  };
  using Timers = std::map<TimerId, std::shared_ptr<Timer>>;

  class Tick final : public TimerTick {
   public:
    explicit Tick(SimTime& sim) : sim_(sim) {}
    void SetNextDue(std::uint32_t dueMs) override {
      const std::lock_guard lock(sim_.mutex_);
      nextDue = sim_.monoMs_ + dueMs;
    }
    std::optional<std::int64_t> nextDue;

   private:
    SimTime& sim_;
  };

  static constexpr std::int64_t kMsPerDay = std::int64_t{86'400'000};

  static std::int64_t MsOf(const SystemTime& t) {
    const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
    return ((days * 24 + t.hour) * 60 + t.minute) * 60'000 + t.second * 1000 + t.milliseconds;
  }

  static SystemTime TimeOf(std::int64_t ms) {
    const std::int64_t days = (ms >= 0 ? ms : ms - (kMsPerDay - 1)) / kMsPerDay;
    const std::int64_t ofDay = ms - days * kMsPerDay;
    const CivilDate date = CivilFromDays(days);
    SystemTime t;
    t.year = date.year;
    t.month = date.month;
    t.dayOfWeek = DayOfWeek(days);
    t.day = date.day;
    t.hour = static_cast<int>(ofDay / 3'600'000);
    t.minute = static_cast<int>(ofDay / 60'000 % 60);
    t.second = static_cast<int>(ofDay / 1000 % 60);
    t.milliseconds = static_cast<int>(ofDay % 1000);
    return t;
  }

  Timers::iterator Newest() { return timers_.empty() ? timers_.end() : std::prev(timers_.end()); }

  // One call, taken as the call due at `due`; lock is held on entry and exit,
  // not during the call. A call may delete its timer, or make others.
  void RunCall(std::unique_lock<std::mutex>& lock, Timers::iterator at, std::int64_t due) {
    const TimerId id = at->first;
    const std::shared_ptr<Timer> timer = at->second;  // kept while the call runs
    const std::thread::id self = std::this_thread::get_id();
    timer->running.insert(self);
    lock.unlock();
    Tick tick(*this);
    timer->callback(tick);
    lock.lock();
    timer->running.erase(timer->running.find(self));
    callEnded_.notify_all();
    const auto it = timers_.find(id);
    if (it == timers_.end() || it->second != timer) return;  // deleted meanwhile
    if (tick.nextDue) {
      timer->due = *tick.nextDue;
    } else if (timer->period > 0) {
      timer->due = due + timer->period;
    } else {
      timers_.erase(it);
    }
  }

  // Waits for the calls of the given timers running on other threads; a
  // call that deletes its own timer does not wait for itself.
  void WaitForCalls(std::unique_lock<std::mutex>& lock,
                    const std::vector<std::shared_ptr<Timer>>& timers) {
    const std::thread::id self = std::this_thread::get_id();
    const auto othersRunning = [&] {
      return std::any_of(timers.begin(), timers.end(), [&](const std::shared_ptr<Timer>& t) {
        return t->running.size() > t->running.count(self);
      });
    };
    if (!othersRunning()) return;
    if (beforeWait_) {
      const std::function<void()> hook = beforeWait_;
      lock.unlock();
      hook();
      lock.lock();
    }
    callEnded_.wait(lock, [&] { return !othersRunning(); });
  }

  std::mutex mutex_;
  std::condition_variable callEnded_;
  std::int64_t wallBaseMs_ = 0;
  std::int64_t monoMs_ = 0;
  TimerId lastId_ = 0;
  bool callOnCreate_ = false;
  std::function<void()> beforeWait_;
  Timers timers_;
};

// A component's own queue on a SimTime: closing it deletes only the timers
// made through it, and the others keep running in the same time.
class SimQueue final : public TimerQueue {
 public:
  explicit SimQueue(SimTime& sim) : sim_(sim) {}
  ~SimQueue() override {
    if (!closed_) Close(TimerWait::kWait);
  }

  TimerId CreateTimer(TimerCallback callback, std::uint32_t dueMs,
                      std::uint32_t periodMs) override {
    const TimerId id = sim_.CreateTimer(std::move(callback), dueMs, periodMs);
    const std::lock_guard lock(mutex_);
    if (id != 0) mine_.insert(id);
    return id;
  }
  bool DeleteTimer(TimerId timer, TimerWait wait) override {
    {
      const std::lock_guard lock(mutex_);
      mine_.erase(timer);
    }
    return sim_.DeleteTimer(timer, wait);
  }
  void Close(TimerWait wait) override {
    std::set<TimerId> mine;
    {
      const std::lock_guard lock(mutex_);
      mine.swap(mine_);
      closed_ = true;
    }
    for (const TimerId id : mine) sim_.DeleteTimer(id, wait);
  }

 private:
  SimTime& sim_;
  std::mutex mutex_;
  std::set<TimerId> mine_;
  bool closed_ = false;
};

}  // namespace rt::testing
