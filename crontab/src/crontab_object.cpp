#include "crontab_object.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cstdint>
#include <deque>
#include <new>
#include <unordered_map>
#include <utility>

#include "runtime/text.h"

namespace cron {
namespace {

struct CallbackTable {
  std::mutex mutex;
  std::deque<crontab_callback> entries{nullptr};
  std::unordered_map<crontab_callback, std::uint32_t> indexes;
};

struct SnapshotTable {
  std::mutex mutex;
  std::deque<SnapshotSlot> slots;
};

// Never destroyed: ticks that outlive their object may still run while the
// process ends.
CallbackTable& Callbacks() {
  static auto* table = new CallbackTable;
  return *table;
}

SnapshotTable& Snapshots() {
  static auto* table = new SnapshotTable;
  return *table;
}

}  // namespace

std::uint32_t RegisterCallback(crontab_callback callback) {
  if (!callback) return 0;
  auto& table = Callbacks();
  std::lock_guard lock(table.mutex);
  auto [it, added] =
      table.indexes.try_emplace(callback, static_cast<std::uint32_t>(table.entries.size()));
  if (added) table.entries.push_back(callback);
  return it->second;
}

crontab_callback CallbackAt(std::uint32_t index) {
  auto& table = Callbacks();
  std::lock_guard lock(table.mutex);
  return index < table.entries.size() ? table.entries[index] : nullptr;
}

std::int32_t NewSnapshotSlot() {
  auto& table = Snapshots();
  std::lock_guard lock(table.mutex);
  table.slots.emplace_back();
  return static_cast<std::int32_t>(table.slots.size());
}

SnapshotSlot& SnapshotSlotAt(std::int32_t slot) {
  auto& table = Snapshots();
  std::lock_guard lock(table.mutex);
  return table.slots.at(static_cast<std::size_t>(slot - 1));
}

void ClearSnapshotTable() {
  auto& table = Snapshots();
  std::lock_guard lock(table.mutex);
  for (auto& slot : table.slots) slot.Store(nullptr);
}

std::uint32_t FoldedNameHash(std::string_view name) {
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (std::size_t i = 0; i < name.size(); i += rt::CharLength(name, i)) {
    const std::size_t length = rt::CharLength(name, i);
    for (std::size_t k = 0; k < length; ++k) {
      const char c = length == 1 ? rt::LowerAscii(name[i]) : name[i + k];
      hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
  }
  return hash;
}

TaskStore::~TaskStore() {
  for (std::size_t i = 0; i < size_; ++i) (&(*this)[i])->~CompiledTask();
  std::size_t capacity = kFirstBlock;
  for (auto* block : blocks_) {
    if (block) std::allocator<CompiledTask>().deallocate(block, capacity);
    capacity *= 2;
  }
}

namespace {

// Block and place within it of a task position: block b starts at the
// position kFirstBlock * (2^b - 1).
std::pair<int, std::size_t> BlockOf(std::size_t index) {
  const std::size_t q = index / TaskStore::kFirstBlock + 1;
  return {static_cast<int>(std::bit_width(q)) - 1,
          index - TaskStore::kFirstBlock * (std::bit_floor(q) - 1)};
}

}  // namespace

const CompiledTask& TaskStore::operator[](std::size_t index) const {
  const auto [block, offset] = BlockOf(index);
  return blocks_[static_cast<std::size_t>(block)][offset];
}

void TaskStore::Append(CompiledTask task) {
  const auto [block, offset] = BlockOf(size_);
  auto& storage = blocks_.at(static_cast<std::size_t>(block));
  if (!storage) storage = std::allocator<CompiledTask>().allocate(kFirstBlock << block);
  new (storage + offset) CompiledTask(std::move(task));
  ++size_;
}

std::int64_t NameIndex::Find(std::string_view name, const TaskStore& tasks) const {
  if (entries_.empty()) return -1;
  const std::uint32_t hash = FoldedNameHash(name);
  const std::size_t mask = entries_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const auto [entryHash, entry] = entries_[i];
    if (entry == 0) return -1;
    if (entryHash == hash && rt::EqualsIgnoreCase(tasks[entry - 1].name(), name)) return entry - 1;
  }
}

void NameIndex::Place(std::uint32_t hash, std::uint32_t position) {
  const std::size_t mask = entries_.size() - 1;
  std::size_t i = hash & mask;
  while (entries_[i].second != 0) i = (i + 1) & mask;
  entries_[i] = {hash, position + 1};
  ++used_;
}

void NameIndex::Insert(std::size_t position, const TaskStore& tasks) {
  // At most half full, so probe runs stay short.
  if ((used_ + 1) * 2 > entries_.size()) {
    auto old = std::exchange(entries_, {});
    entries_.resize(std::max<std::size_t>(16, old.size() * 2));
    used_ = 0;
    for (const auto& [hash, entry] : old) {
      if (entry != 0) Place(hash, entry - 1);
    }
  }
  Place(FoldedNameHash(tasks[position].name()), static_cast<std::uint32_t>(position));
}

void NameIndex::Rebuild(const TaskStore& tasks) {
  entries_ = {};
  used_ = 0;
  for (std::size_t i = 0; i < tasks.size(); ++i) Insert(i, tasks);
}

void TickState::BeginAt(std::int64_t second) {
  std::lock_guard lock(mutex);
  // A restart within an evaluated second keeps it done, and a clock set back
  // while stopped repeats nothing, as while running.
  if (!evaluated || lastSecond < second - 1) lastSecond = second - 1;
  evaluated = true;
  // What happened while stopped is not measured: the next tick is one later.
  lastReading = second - 1;
  lastOffset.reset();
}

void TickState::DoneUntil(std::int64_t second) {
  std::lock_guard lock(mutex);
  if (!evaluated || lastSecond < second) lastSecond = second;
  evaluated = true;
}

namespace {

// A second to evaluate; gapFirst set when the local seconds gapFirst to
// second - 1 do not exist (a daylight-saving change skipped them).
struct Due {
  std::int64_t second = 0;
  std::optional<std::int64_t> gapFirst;
};

// What one tick does, decided under the state's lock.
struct TickPlan {
  std::array<Due, kMaxCatchUpSeconds + 1> due{};
  int count = 0;
  std::optional<std::pair<std::int64_t, std::int64_t>> skipped;
  std::optional<BackStep> back;
};

// Time is measured between readings in instants (local minus offset) when
// both offsets are known, else in local seconds; seconds are fired once
// each, in local time, never twice after a step back or a fall back.
TickPlan PlanTick(TickState& state, std::int64_t second, std::optional<std::int32_t> offset) {
  TickPlan plan;
  const bool zoned = offset && state.lastOffset;
  const bool steady = !zoned || *offset == *state.lastOffset;
  const LocalZone zone(*state.clock);
  const auto localAt = [&](std::int64_t instant) {
    if (steady) return instant + (zoned ? *offset : 0);
    return instant + zone.OffsetAt(instant).value_or(*offset);
  };
  std::int64_t floor = state.lastSecond;
  const auto add = [&](std::int64_t instant, std::int64_t local) {
    if (local <= floor) return;
    Due due{local, std::nullopt};
    if (const std::int64_t before = localAt(instant - 1); !steady && local - before > 1) {
      due.gapFirst = before + 1;
    }
    plan.due[static_cast<std::size_t>(plan.count++)] = due;
    floor = local;
  };
  const std::int64_t now = zoned ? second - *offset : second;
  const std::int64_t previous = zoned ? state.lastReading - *state.lastOffset : state.lastReading;
  const std::int64_t elapsed = now - previous;
  // Ticks come a second apart: a step back is measured from the reading due.
  const std::int64_t stepBack = 1 - elapsed;
  if (!state.evaluated || second < state.lastSecond - kMaxBackStepSeconds) {
    // The first tick, or the clock was set far back: the time is taken as new.
    if (state.evaluated && elapsed < 0) plan.back = BackStep{stepBack, state.lastSecond, true};
    floor = second - 1;
    add(now, second);
  } else if (elapsed < 0) {
    // A short step back repeats nothing: seconds up to lastSecond are done.
    plan.back = BackStep{stepBack, state.lastSecond, false};
  } else if (elapsed > kMaxCatchUpSeconds + 1) {
    // A larger jump forward (sleep, clock change) is not replayed, only told.
    if (second - 1 > floor) plan.skipped = {floor + 1, second - 1};
    add(now, second);
  } else {
    for (std::int64_t instant = previous + 1; instant <= now; ++instant) {
      add(instant, instant == now ? second : localAt(instant));
    }
  }
  state.lastReading = second;
  state.lastOffset = offset;
  if (plan.count > 0) {
    state.evaluated = true;
    state.lastSecond = floor;
  }
  return plan;
}

// A task bound to certain hours that would have fired in a gap fires once
// right after it.
bool FiresAfterGap(const Schedule& schedule, std::int64_t gapFirst, std::int64_t end) {
  if (!schedule.CatchesUpGaps()) return false;
  const auto next = schedule.NextAfter(TimeFromLocalSeconds(gapFirst - 1));
  return next && LocalSeconds(*next) < end;
}

void FireSecond(const Snapshot& snapshot, const Due& due) {
  const rt::SystemTime at = TimeFromLocalSeconds(due.second);
  const rt::DateTime fireTime = rt::DateTimeFromSystemTime(at);
  snapshot.ForEach([&](const CompiledTask& task) {
    if (!TaskMatchesTime(task.fields(), at) &&
        !(due.gapFirst && FiresAfterGap(task.schedule, *due.gapFirst, due.second))) {
      return;
    }
    if (auto callback = CallbackAt(task.callback)) callback(fireTime, task.schedule.nameText());
  });
}

}  // namespace

void SchedulerTick(TickState& state, const SnapshotSlot& slot, rt::TimerTick& timer) {
  const rt::ZonedTime now = state.clock->ZonedLocalTime();
  const int ms = std::clamp(now.local.milliseconds, 0, 999);
  timer.SetNextDue(kTickPeriodMs - static_cast<std::uint32_t>(ms) + kTickAlignMs);

  TickPlan plan;
  std::function<void(std::int64_t, std::int64_t)> onSkip;
  std::function<void(const BackStep&)> onBack;
  {
    std::lock_guard lock(state.mutex);
    plan = PlanTick(state, LocalSeconds(now.local), now.utcOffsetSeconds);
    if (plan.skipped) onSkip = state.onSkip;
    if (plan.back) onBack = state.onBack;
  }
  if (onBack) onBack(*plan.back);
  if (onSkip) onSkip(plan.skipped->first, plan.skipped->second);
  if (plan.count == 0) return;
  const auto snapshot = slot.Load();
  if (!snapshot) return;
  for (int i = 0; i < plan.count; ++i) FireSecond(*snapshot, plan.due[static_cast<std::size_t>(i)]);
}

crontab::crontab(rt::Clock& clock, QueueFactory queueFactory)
    : clock_(&clock),
      queueFactory_(std::move(queueFactory)),
      tickState_(std::make_shared<TickState>(clock)) {}

crontab::crontab(const crontab& source) {
  std::lock_guard lock(source.mutex_);
  clock_ = source.clock_;
  queueFactory_ = source.queueFactory_;
  for (std::size_t i = 0; i < source.tasks_->size(); ++i) tasks_->Append((*source.tasks_)[i]);
  names_ = source.names_;
  tickState_ = std::make_shared<TickState>(*clock_);
  std::lock_guard tickLock(source.tickState_->mutex);
  tickState_->onSkip = source.tickState_->onSkip;
  tickState_->onBack = source.tickState_->onBack;
}

crontab::~crontab() {
  std::lock_guard lock(mutex_);
  if (timer_ != 0) timerQueue_->DeleteTimer(timer_, rt::TimerWait::kNoWait);
  if (timerQueue_) timerQueue_->Close(rt::TimerWait::kNoWait);
  timerQueue_.reset();
  // Running ticks keep the snapshot they loaded; the slot need not.
  if (snapshotSlot_ != 0) SnapshotSlotAt(snapshotSlot_).Store(nullptr);
}

bool crontab::Add(std::string_view line, crontab_callback callback) {
  std::lock_guard lock(mutex_);
  // One instant per line: every year value and year step sees the same year.
  const int currentYear = clock_->LocalTime().year;
  auto schedule = Schedule::Parse(line, currentYear);
  if (!schedule) return false;
  if (names_.Find(schedule->name(), *tasks_) >= 0) return false;
  if (tasks_->size() >= static_cast<std::size_t>(INT32_MAX)) return false;  // Tasks() must hold it
  tasks_->Append({std::move(*schedule), RegisterCallback(callback)});
  names_.Insert(tasks_->size() - 1, *tasks_);
  PublishSnapshot();
  return true;
}

bool crontab::Del(std::string_view name) {
  std::lock_guard lock(mutex_);
  if (timer_ != 0) return false;
  if (name.empty()) {
    tasks_ = std::make_shared<TaskStore>();
  } else {
    const CompiledTask* found = FindExact(name);
    if (!found) return false;
    // Published snapshots may still be read: the rest go to a new store.
    auto rest = std::make_shared<TaskStore>();
    for (std::size_t i = 0; i < tasks_->size(); ++i) {
      if (&(*tasks_)[i] != found) rest->Append((*tasks_)[i]);
    }
    tasks_ = std::move(rest);
  }
  names_.Rebuild(*tasks_);
  PublishSnapshot();
  return true;
}

std::string crontab::Get(std::string_view name) const {
  std::lock_guard lock(mutex_);
  std::string out;
  if (name.empty()) {
    for (std::size_t i = 0; i < tasks_->size(); ++i) {
      if (i > 0) out += "\r\n";
      out += (*tasks_)[i].schedule.line();
    }
    return out;
  }
  if (const CompiledTask* found = FindExact(name)) out.assign(found->schedule.line());
  return out;
}

const CompiledTask* crontab::FindExact(std::string_view name) const {
  // Names that fold alike are refused by Add, so the one candidate decides.
  const std::int64_t position = names_.Find(name, *tasks_);
  if (position < 0) return nullptr;
  const CompiledTask& task = (*tasks_)[static_cast<std::size_t>(position)];
  return task.name() == name ? &task : nullptr;
}

bool crontab::Start() {
  std::lock_guard lock(mutex_);
  if (timer_ != 0) return true;
  if (!timerQueue_) timerQueue_ = queueFactory_();
  if (!timerQueue_ || tasks_->size() == 0) return false;
  if (snapshotSlot_ == 0) PublishSnapshot();
  const SnapshotSlot* slot = &SnapshotSlotAt(snapshotSlot_);
  tickState_->BeginAt(LocalSeconds(clock_->LocalTime()));
  // The timer is armed only once its id is stored, so that a Stop from a
  // callback finds it: a call that comes earlier (the first is due at once)
  // fires nothing and asks to come again a millisecond later.
  auto armed = std::make_shared<std::atomic<bool>>(false);
  timer_ = timerQueue_->CreateTimer(
      [state = tickState_, slot, armed](rt::TimerTick& tick) {
        if (!armed->load(std::memory_order_acquire)) {
          tick.SetNextDue(1);
          return;
        }
        SchedulerTick(*state, *slot, tick);
      },
      0, kTickPeriodMs);
  armed->store(true, std::memory_order_release);
  return timer_ != 0;
}

bool crontab::Stop(bool noWait) {
  rt::TimerQueue* queue = nullptr;
  rt::TimerId timer = 0;
  {
    std::lock_guard lock(mutex_);
    if (timer_ == 0) return true;
    queue = timerQueue_.get();
    timer = std::exchange(timer_, 0);
  }
  // Waiting without the lock: the running tick's callback may call in here.
  // An unknown timer is gone already; either way no tick starts any more.
  queue->DeleteTimer(timer, noWait ? rt::TimerWait::kNoWait : rt::TimerWait::kWait);
  return true;
}

bool crontab::State() const {
  std::lock_guard lock(mutex_);
  return timer_ != 0;
}

std::int32_t crontab::Tasks() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::int32_t>(tasks_->size());
}

std::vector<Schedule> crontab::Schedules() const {
  std::lock_guard lock(mutex_);
  std::vector<Schedule> out;
  out.reserve(tasks_->size());
  for (std::size_t i = 0; i < tasks_->size(); ++i) out.push_back((*tasks_)[i].schedule);
  return out;
}

std::vector<bool> crontab::Replace(std::span<const std::string> lines, crontab_callback callback) {
  std::lock_guard lock(mutex_);
  const int currentYear = clock_->LocalTime().year;
  const std::uint32_t callbackIndex = RegisterCallback(callback);
  // Names are unique, so each present line belongs to one task.
  std::unordered_map<std::string_view, std::size_t> present;
  for (std::size_t i = 0; i < tasks_->size(); ++i) present.emplace((*tasks_)[i].schedule.line(), i);
  // Published snapshots may still be read: the new set is a new store.
  auto store = std::make_shared<TaskStore>();
  NameIndex names;
  std::vector<bool> accepted(lines.size(), false);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (store->size() >= static_cast<std::size_t>(INT32_MAX)) break;
    const auto kept = present.find(lines[i]);
    if (kept != present.end() && (*tasks_)[kept->second].callback == callbackIndex) {
      const CompiledTask& task = (*tasks_)[kept->second];
      if (names.Find(task.name(), *store) >= 0) continue;
      store->Append(task);
    } else {
      auto schedule = Schedule::Parse(lines[i], currentYear);
      if (!schedule || names.Find(schedule->name(), *store) >= 0) continue;
      store->Append({std::move(*schedule), callbackIndex});
    }
    names.Insert(store->size() - 1, *store);
    accepted[i] = true;
  }
  tasks_ = std::move(store);
  names_ = std::move(names);
  PublishSnapshot();
  return accepted;
}

void crontab::SetSkipObserver(std::function<void(std::int64_t, std::int64_t)> observer) {
  std::lock_guard lock(tickState_->mutex);
  tickState_->onSkip = std::move(observer);
}

void crontab::DoneUntil(std::int64_t second) {
  tickState_->DoneUntil(second);
}

void crontab::SetBackObserver(std::function<void(const BackStep&)> observer) {
  std::lock_guard lock(tickState_->mutex);
  tickState_->onBack = std::move(observer);
}

void crontab::PublishSnapshot() {
  if (snapshotSlot_ == 0) snapshotSlot_ = NewSnapshotSlot();
  // The store is shared, not copied: an append leaves the first `count`
  // tasks as they were.
  SnapshotSlotAt(snapshotSlot_)
      .Store(std::make_shared<const Snapshot>(Snapshot{tasks_, tasks_->size()}));
}

}  // namespace cron
