// The scheduler object, its published schedule snapshots and its tick.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crontab/schedule.h"
#include "interface.h"
#include "runtime/clock.h"
#include "runtime/timer_queue.h"

namespace cron {

// Process-wide table of the callbacks Add was given; entries are never
// removed, so a snapshot names its callbacks by index and a tick can call
// nothing else. Index 0 is "no callback".
std::uint32_t RegisterCallback(crontab_callback callback);
crontab_callback CallbackAt(std::uint32_t index);

// A task as the table and the tick see it; never changed once stored.
struct CompiledTask {
  Schedule schedule;
  std::uint32_t callback = 0;

  const Fields& fields() const { return schedule.fields(); }
  std::string_view name() const { return schedule.name(); }
};

// The tasks of one object in blocks that never move: block b holds
// kFirstBlock << b tasks. Appending touches no stored task, so snapshots of
// the first n tasks stay valid while the owner appends; any other change
// makes a new store.
class TaskStore {
 public:
  static constexpr std::size_t kFirstBlock = 64;
  static constexpr int kBlocks = 32;

  TaskStore() = default;
  TaskStore(const TaskStore&) = delete;
  TaskStore& operator=(const TaskStore&) = delete;
  ~TaskStore();

  std::size_t size() const { return size_; }  // the owner's view
  const CompiledTask& operator[](std::size_t index) const;
  void Append(CompiledTask task);

 private:
  std::array<CompiledTask*, kBlocks> blocks_{};
  std::size_t size_ = 0;
};

// What a tick reads: the first `count` tasks of a store.
struct Snapshot {
  std::shared_ptr<const TaskStore> store;
  std::size_t count = 0;

  template <class F>
  void ForEach(F&& f) const {
    for (std::size_t i = 0; i < count; ++i) f((*store)[i]);
  }
};

// One slot of the process-wide snapshot table: a tick sees a whole old or a
// whole new snapshot.
class SnapshotSlot {
 public:
  std::shared_ptr<const Snapshot> Load() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
  }
  void Store(std::shared_ptr<const Snapshot> snapshot) {
    std::lock_guard lock(mutex_);
    snapshot_.swap(snapshot);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Snapshot> snapshot_;
};

// Slots are numbered from 1, never removed or reused.
std::int32_t NewSnapshotSlot();
SnapshotSlot& SnapshotSlotAt(std::int32_t slot);
void ClearSnapshotTable();

// A step of the clock back in time (a daylight-saving change is none).
struct BackStep {
  std::int64_t seconds = 0;        // how far back
  std::int64_t lastEvaluated = 0;  // the latest second already evaluated
  // More than kMaxBackStepSeconds behind lastEvaluated: firing goes on from
  // the new time. Otherwise nothing fires until the clock passes
  // lastEvaluated again, so nothing is repeated.
  bool takenAsNew = false;
};

// What a tick remembers between calls.
struct TickState {
  explicit TickState(rt::Clock& c) : clock(&c) {}
  // Start: every second before `second` counts as evaluated.
  void BeginAt(std::int64_t second);
  // Every second up to `second` counts as evaluated (a restart's record).
  void DoneUntil(std::int64_t second);

  rt::Clock* clock;
  std::mutex mutex;
  bool evaluated = false;
  std::int64_t lastSecond = 0;  // the latest wall-clock second evaluated
  // The previous reading, to measure the time between two ticks truly: with
  // the offsets known a daylight-saving change is no jump.
  std::int64_t lastReading = 0;
  std::optional<std::int32_t> lastOffset;
  // Told the first and last second a forward jump skipped; called outside
  // the lock, before the tick fires the new second.
  std::function<void(std::int64_t first, std::int64_t last)> onSkip;
  // Told of each step back, once, by the tick that sees it.
  std::function<void(const BackStep&)> onBack;
};

inline constexpr std::uint32_t kTickPeriodMs = 1000;
inline constexpr std::uint32_t kTickAlignMs = 5;       // after the start of a second
inline constexpr std::int64_t kMaxCatchUpSeconds = 5;  // skipped seconds replayed
inline constexpr std::int64_t kMaxBackStepSeconds = std::int64_t{3} * 3600;

// One tick: reads the clock, moves the next tick to just after the next
// second, and fires the tasks of each second not yet evaluated.
void SchedulerTick(TickState& state, const SnapshotSlot& slot, rt::TimerTick& timer);

// The tasks' names folded for the duplicate test, by hash: each entry is a
// task's position in the table.
class NameIndex {
 public:
  // The position of the task whose name folds like `name`, or -1.
  std::int64_t Find(std::string_view name, const TaskStore& tasks) const;
  // `position` is the newest task of `tasks`; its name is not yet indexed.
  void Insert(std::size_t position, const TaskStore& tasks);
  void Rebuild(const TaskStore& tasks);

 private:
  void Place(std::uint32_t hash, std::uint32_t position);

  // (hash, position + 1) pairs, open addressing; 0 marks a free entry.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries_;
  std::size_t used_ = 0;
};

class crontab {
 public:
  using QueueFactory = std::function<std::unique_ptr<rt::TimerQueue>()>;

  explicit crontab(rt::Clock& clock = rt::SystemClock(),
                   QueueFactory queueFactory = rt::CreateTimerQueue);
  // An independent, stopped copy: tasks copied, no queue, no slot yet.
  crontab(const crontab& source);
  crontab& operator=(const crontab&) = delete;
  // Teardown without waiting: no tick starts afterwards, a running one
  // finishes on its own.
  ~crontab();

  // Each operation holds the object's lock, so calls from several threads
  // on one object are safe; Stop waits for a running tick without it.
  bool Add(std::string_view line, crontab_callback callback);
  bool Del(std::string_view name);
  std::string Get(std::string_view name) const;
  bool Start();
  bool Stop(bool noWait);
  bool State() const;
  std::int32_t Tasks() const;
  // Copies of the tasks' schedules, in list order.
  std::vector<Schedule> Schedules() const;
  // The whole task set at once, running or not: a line equal to a present
  // task's line (with the same callback) keeps that task as it is, the
  // others are added as by Add, in order. A tick sees the old set or the new
  // one, and the seconds it evaluates go on as before. Per line: accepted.
  std::vector<bool> Replace(std::span<const std::string> lines, crontab_callback callback);
  // Seconds up to `second` (LocalSeconds) are not evaluated again.
  void DoneUntil(std::int64_t second);
  // Who hears of the seconds a forward clock jump skipped (nullptr: none).
  void SetSkipObserver(std::function<void(std::int64_t first, std::int64_t last)> observer);
  // Who hears of a clock set back (nullptr: none).
  void SetBackObserver(std::function<void(const BackStep&)> observer);

  // Tests look inside (crontab/test/inspector.h).
  friend struct CrontabInspector;

 private:
  // With the lock held.
  const CompiledTask* FindExact(std::string_view name) const;
  void PublishSnapshot();

  mutable std::mutex mutex_;
  rt::Clock* clock_;
  QueueFactory queueFactory_;
  std::unique_ptr<rt::TimerQueue> timerQueue_;
  rt::TimerId timer_ = 0;
  std::int32_t snapshotSlot_ = 0;
  std::shared_ptr<TaskStore> tasks_ = std::make_shared<TaskStore>();
  NameIndex names_;
  std::shared_ptr<TickState> tickState_;
};

// How the C interface makes its objects; tests give their own clock and
// timer queue. An empty factory means the system's clock and timers.
using ObjectFactory = std::function<std::unique_ptr<crontab>()>;
void SetObjectFactory(ObjectFactory factory);
std::unique_ptr<crontab> MakeObject();

// A hash of a task name that agrees with the duplicate test,
// rt::EqualsIgnoreCase (ASCII letters folded, double-byte characters whole).
std::uint32_t FoldedNameHash(std::string_view name);

}  // namespace cron
