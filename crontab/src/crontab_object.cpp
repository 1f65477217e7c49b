#include "crontab_object.h"

#include <algorithm>
#include <deque>
#include <unordered_map>

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

std::int32_t SnapshotSlotCount() {
  auto& table = Snapshots();
  std::lock_guard lock(table.mutex);
  return static_cast<std::int32_t>(table.slots.size());
}

void ClearSnapshotTable() {
  auto& table = Snapshots();
  std::lock_guard lock(table.mutex);
  for (auto& slot : table.slots) slot.Store(nullptr);
}

std::string EscapeName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (rt::IsLeadByte(name[i]) && i + 1 < name.size()) {
      out.append(name.substr(i, 2));
      i += 2;
      continue;
    }
    if (byte == '%' || byte == '|' || byte == '\r' || byte == '\n' || byte >= 0x80) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += name[i];
    }
    ++i;
  }
  return out;
}

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (std::size_t i = 0; i < out.size(); i += rt::CharLength(out, i)) {
    if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
  }
  return out;
}

void SchedulerTick(TickState& state, const SnapshotSlot& slot, rt::TimerTick& timer) {
  const rt::SystemTime now = state.clock->LocalTime();
  const int ms = std::clamp(now.milliseconds, 0, 999);
  timer.SetNextDue(kTickPeriodMs - static_cast<std::uint32_t>(ms) + kTickAlignMs);

  // Each wall-clock second is evaluated once, whatever the ticks do.
  const std::int64_t second = LocalSeconds(now);
  std::int64_t due[kMaxCatchUpSeconds + 1];
  int count = 0;
  {
    std::lock_guard lock(state.mutex);
    if (!state.evaluated || second < state.lastSecond - kMaxBackStepSeconds) {
      due[count++] = second;  // first tick, or the clock was set far back
    } else if (second > state.lastSecond) {
      // A larger jump forward (sleep, clock change) is not replayed.
      const std::int64_t from =
          second - state.lastSecond > kMaxCatchUpSeconds + 1 ? second : state.lastSecond + 1;
      for (std::int64_t s = from; s <= second; ++s) due[count++] = s;
    }
    // A short step back repeats nothing: seconds up to lastSecond are done.
    if (count > 0) {
      state.evaluated = true;
      state.lastSecond = second;
    }
  }
  if (count == 0) return;
  const auto snapshot = slot.Load();
  if (!snapshot) return;
  for (int i = 0; i < count; ++i) {
    const rt::SystemTime at = TimeFromLocalSeconds(due[i]);
    const rt::DateTime fireTime = rt::DateTimeFromSystemTime(at);
    snapshot->ForEach([&](const CompiledTask& task) {
      if (!TaskMatchesTime(task.fields, at)) return;
      if (auto callback = CallbackAt(task.callback)) callback(fireTime, task.name.c_str());
    });
  }
}

crontab::crontab(rt::Clock& clock, QueueFactory queueFactory)
    : clock_(&clock),
      queueFactory_(std::move(queueFactory)),
      tickState_(std::make_shared<TickState>(clock)) {}

crontab::crontab(const crontab& source)
    : clock_(source.clock_),
      queueFactory_(source.queueFactory_),
      tasks_(source.tasks_),
      foldedNames_(source.foldedNames_),
      tickState_(std::make_shared<TickState>(*source.clock_)) {}

crontab::~crontab() {
  if (timer_ != 0) timerQueue_->DeleteTimer(timer_, rt::TimerWait::kNoWait);
  if (timerQueue_) timerQueue_->Close(rt::TimerWait::kNoWait);
  timerQueue_.reset();
  // Running ticks keep the snapshot they loaded; the slot need not.
  if (snapshotSlot_ != 0) SnapshotSlotAt(snapshotSlot_).Store(nullptr);
}

bool crontab::Add(std::string_view line, crontab_callback callback) {
  // One instant per line: every year value and year step sees the same year.
  const int currentYear = clock_->LocalTime().year;
  auto schedule = Schedule::Parse(line, currentYear);
  if (!schedule) return false;
  std::string folded = FoldName(schedule->name());
  if (foldedNames_.contains(folded)) return false;
  foldedNames_.insert(std::move(folded));
  tasks_.push_back({std::move(*schedule), RegisterCallback(callback)});
  PublishSnapshot(true);
  return true;
}

bool crontab::Del(std::string_view name) {
  if (State()) return false;
  if (name.empty()) {
    tasks_.clear();
    foldedNames_.clear();
  } else {
    auto it = std::find_if(tasks_.begin(), tasks_.end(),
                           [&](const CronTask& task) { return task.schedule.name() == name; });
    if (it == tasks_.end()) return false;
    foldedNames_.erase(FoldName(it->schedule.name()));
    tasks_.erase(it);
  }
  PublishSnapshot(false);
  return true;
}

std::string crontab::Get(std::string_view name) const {
  std::string out;
  if (name.empty()) {
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
      if (i > 0) out += "\r\n";
      out += tasks_[i].schedule.line();
    }
    return out;
  }
  for (const auto& task : tasks_) {
    if (task.schedule.name() == name) return task.schedule.line();
  }
  return out;
}

bool crontab::Start() {
  if (State()) return true;
  if (!timerQueue_) timerQueue_ = queueFactory_();
  if (!timerQueue_ || tasks_.empty()) return false;
  if (snapshotSlot_ == 0) PublishSnapshot(false);
  const SnapshotSlot* slot = &SnapshotSlotAt(snapshotSlot_);
  timer_ = timerQueue_->CreateTimer(
      [state = tickState_, slot](rt::TimerTick& tick) { SchedulerTick(*state, *slot, tick); }, 0,
      kTickPeriodMs);
  return timer_ != 0;
}

bool crontab::Stop(bool noWait) {
  if (!State()) return true;
  // An unknown timer is gone already; either way no tick starts any more.
  timerQueue_->DeleteTimer(timer_, noWait ? rt::TimerWait::kNoWait : rt::TimerWait::kWait);
  timer_ = 0;
  return true;
}

void crontab::PublishSnapshot(bool appended) {
  if (snapshotSlot_ == 0) snapshotSlot_ = NewSnapshotSlot();
  auto next = std::make_shared<Snapshot>();
  auto compile = [](const CronTask& task) {
    return CompiledTask{task.schedule.fields(), task.schedule.name(), task.callback};
  };
  if (appended && published_) {
    next->chunks = published_->chunks;
    if (!next->chunks.empty() && next->chunks.back()->size() < Snapshot::kChunkSize) {
      auto chunk = std::make_shared<Snapshot::Chunk>(*next->chunks.back());
      chunk->push_back(compile(tasks_.back()));
      next->chunks.back() = std::move(chunk);
    } else {
      next->chunks.push_back(
          std::make_shared<const Snapshot::Chunk>(Snapshot::Chunk{compile(tasks_.back())}));
    }
  } else {
    for (std::size_t i = 0; i < tasks_.size(); i += Snapshot::kChunkSize) {
      auto chunk = std::make_shared<Snapshot::Chunk>();
      const std::size_t end = std::min(tasks_.size(), i + Snapshot::kChunkSize);
      chunk->reserve(end - i);
      for (std::size_t j = i; j < end; ++j) chunk->push_back(compile(tasks_[j]));
      next->chunks.push_back(std::move(chunk));
    }
  }
  published_ = next;
  SnapshotSlotAt(snapshotSlot_).Store(std::move(next));
}

std::string crontab::SnapshotText() const {
  std::string out;
  for (const auto& task : tasks_) {
    for (int position = 1; position <= kFieldCount; ++position) {
      out += task.schedule.ExpandedField(position);
      out += '|';
    }
    out += EscapeName(task.schedule.name());
    out += '|';
    out += std::to_string(task.callback);
    out += "\r\n";
  }
  return out;
}

}  // namespace cron
