// Scheduler costs: one tick over many tasks whose year field is a long range
// (compiled matcher against the plain substring matcher on the text form),
// adding many such tasks, adding many short tasks one by one (time and
// resident memory per task), and adding the worst single line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crontab_object.h"
#include "inspector.h"
#include "reference_matcher.h"

namespace {

// Year 2026, so a year field 2027-30827 never matches and the substring
// matcher has to read all of its 28,801 values.
class BenchClock final : public rt::Clock {
 public:
  rt::SystemTime LocalTime() override {
    std::lock_guard lock(mutex_);
    return cron::TimeFromLocalSeconds(seconds_);
  }
  void Advance() {
    std::lock_guard lock(mutex_);
    ++seconds_;
  }

 private:
  std::mutex mutex_;
  std::int64_t seconds_ = cron::LocalSeconds({2026, 3, 1, 0, 10, 0, 0, 0});
};

class NullTick final : public rt::TimerTick {
 public:
  void SetNextDue(std::uint32_t) override {}
};

std::string LongYearLine(int i) {
  return "0 0 0 1 1 * 2027-30827 task" + std::to_string(i);
}

void Ignore(double, const char*) {}

// Resident memory of the process in KiB.
double ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
  }
  return 0;
}

void BM_TickCompiled(benchmark::State& state) {
  const int tasks = static_cast<int>(state.range(0));
  BenchClock clock;
  cron::crontab c(clock);
  for (int i = 0; i < tasks; ++i) c.Add(LongYearLine(i), Ignore);
  const cron::SnapshotSlot& slot = cron::SnapshotSlotAt(cron::CrontabInspector::SnapshotSlot(c));
  cron::TickState tickState(clock);
  NullTick tick;
  for (auto _ : state) {
    clock.Advance();  // each tick evaluates one new second
    cron::SchedulerTick(tickState, slot, tick);
  }
  state.counters["per_task"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * tasks,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TickCompiled)->Arg(1)->Arg(100)->Arg(10'000);

void BM_TickSubstringReference(benchmark::State& state) {
  const int tasks = static_cast<int>(state.range(0));
  BenchClock clock;
  cron::crontab c(clock);
  for (int i = 0; i < tasks; ++i) c.Add(LongYearLine(i), Ignore);
  const std::string text = cron::CrontabInspector::SnapshotText(c);
  std::size_t matched = 0;
  for (auto _ : state) {
    clock.Advance();
    matched += cron::reference::MatchingNames(text, clock.LocalTime()).size();
  }
  benchmark::DoNotOptimize(matched);
  state.counters["per_task"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * tasks,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["text_KiB"] = static_cast<double>(text.size()) / 1024;
}
BENCHMARK(BM_TickSubstringReference)->Arg(1)->Arg(100);

void BM_Add10000(benchmark::State& state) {
  BenchClock clock;
  std::vector<std::string> lines;
  for (int i = 0; i < 10'000; ++i) lines.push_back(LongYearLine(i));
  double rss = 0;
  for (auto _ : state) {
    cron::crontab c(clock);
    for (const auto& line : lines) c.Add(line, Ignore);
    state.PauseTiming();
    rss = ResidentKiB();
    state.ResumeTiming();
  }
  state.counters["VmRSS_KiB"] = rss;
}
BENCHMARK(BM_Add10000)->Unit(benchmark::kMillisecond)->Iterations(5);

// N short tasks added one by one to a fresh object; the lines are made
// beforehand so that only the scheduler's own memory is counted.
void BM_AddShortTasks(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  BenchClock clock;
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i) lines.push_back("0 1 8 * * * * t" + std::to_string(i));
  double perTask = 0;
  for (auto _ : state) {
    const double before = ResidentKiB();
    auto c = std::make_unique<cron::crontab>(clock);
    for (const auto& line : lines) c->Add(line, Ignore);
    state.PauseTiming();
    perTask = (ResidentKiB() - before) * 1024 / static_cast<double>(count);
    c.reset();
    state.ResumeTiming();
  }
  state.counters["RSS_bytes_per_task"] = perTask;
}
BENCHMARK(BM_AddShortTasks)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_AddWorstLine(benchmark::State& state) {
  BenchClock clock;
  const std::string line = "0-59 0-59 0-23 1-31 1-12 0-6 2026-30827 worst";
  for (auto _ : state) {
    cron::crontab c(clock);
    benchmark::DoNotOptimize(c.Add(line, Ignore));
  }
}
BENCHMARK(BM_AddWorstLine)->Unit(benchmark::kMicrosecond);

}  // namespace

// The missed-reminder summary after a sleep of state.range(0) hours: an
// every-second task and an hourly one, in the machine's zone.
void BM_MissedAfterSleep(benchmark::State& state) {
  const auto every = *cron::Schedule::Parse("* * * * * * * every", 2026);
  const auto hourly = *cron::Schedule::Parse("0 0 * * * * * hourly", 2026);
  const cron::Schedule* list[] = {&every, &hourly};
  const cron::LocalZone zone(rt::SystemClock());
  const std::int64_t first = cron::LocalSeconds({2026, 3, 1, 0, 10, 0, 0, 0});
  const std::int64_t last = first + state.range(0) * 3600 - 1;
  for (auto _ : state) benchmark::DoNotOptimize(cron::MissedBetween(list, first, last, zone));
}
BENCHMARK(BM_MissedAfterSleep)->Arg(2)->Arg(48)->Arg(24 * 365)->Unit(benchmark::kMicrosecond);

// Next firing times of an every-second task, in the machine's zone (gaps
// looked up) and without one.
void BM_NextFiringsZoned(benchmark::State& state) {
  const auto every = *cron::Schedule::Parse("* * * * * * * every", 2026);
  const cron::LocalZone zone =
      state.range(0) ? cron::LocalZone(rt::SystemClock()) : cron::LocalZone();
  const rt::SystemTime from{2026, 3, 0, 1, 10, 0, 0, 0};
  for (auto _ : state) benchmark::DoNotOptimize(every.NextFirings(from, 1000, zone));
}
BENCHMARK(BM_NextFiringsZoned)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
