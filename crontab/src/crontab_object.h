// The scheduler object, its published schedule snapshots and its tick.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
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

// A task as the tick sees it.
struct CompiledTask {
  Fields fields;
  std::string name;
  std::uint32_t callback = 0;
};

// An immutable copy of a task table. Tasks sit in chunks shared between
// successive snapshots, so publishing after an append copies one chunk.
struct Snapshot {
  static constexpr std::size_t kChunkSize = 64;
  using Chunk = std::vector<CompiledTask>;
  std::vector<std::shared_ptr<const Chunk>> chunks;

  template <class F>
  void ForEach(F&& f) const {
    for (const auto& chunk : chunks) {
      for (const auto& task : *chunk) f(task);
    }
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
std::int32_t SnapshotSlotCount();
void ClearSnapshotTable();

// A name as it appears in the snapshot's text form: "%", "|", CR, LF and a
// lone lead byte at the end become %XX, so items and lines stay apart.
std::string EscapeName(std::string_view name);

// What a tick remembers between calls: the last wall-clock second evaluated.
struct TickState {
  explicit TickState(rt::Clock& c) : clock(&c) {}
  rt::Clock* clock;
  std::mutex mutex;
  bool evaluated = false;
  std::int64_t lastSecond = 0;
};

inline constexpr std::uint32_t kTickPeriodMs = 1000;
inline constexpr std::uint32_t kTickAlignMs = 5;       // after the start of a second
inline constexpr std::int64_t kMaxCatchUpSeconds = 5;  // skipped seconds replayed
inline constexpr std::int64_t kMaxBackStepSeconds = std::int64_t{3} * 3600;

// One tick: reads the clock, moves the next tick to just after the next
// second, and fires the tasks of each second not yet evaluated.
void SchedulerTick(TickState& state, const SnapshotSlot& slot, rt::TimerTick& timer);

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

  bool Add(std::string_view line, crontab_callback callback);
  bool Del(std::string_view name);
  std::string Get(std::string_view name) const;
  bool Start();
  bool Stop(bool noWait);
  bool State() const { return timer_ != 0; }
  std::int32_t Tasks() const { return static_cast<std::int32_t>(tasks_.size()); }

  std::int32_t snapshotSlot() const { return snapshotSlot_; }
  bool HasTimerQueue() const { return timerQueue_ != nullptr; }
  // The snapshot in text form (expanded fields, escaped name, callback
  // index), made from the tasks on demand.
  std::string SnapshotText() const;

 private:
  struct CronTask {
    Schedule schedule;
    std::uint32_t callback = 0;
  };
  void PublishSnapshot(bool appended);

  rt::Clock* clock_;
  QueueFactory queueFactory_;
  std::unique_ptr<rt::TimerQueue> timerQueue_;
  rt::TimerId timer_ = 0;
  std::int32_t snapshotSlot_ = 0;
  std::vector<CronTask> tasks_;
  std::unordered_set<std::string> foldedNames_;
  std::shared_ptr<const Snapshot> published_;
  std::shared_ptr<TickState> tickState_;
};

// The duplicate test's form of a name: single-byte ASCII letters folded to
// lower case, double-byte characters kept whole.
std::string FoldName(std::string_view name);

}  // namespace cron
