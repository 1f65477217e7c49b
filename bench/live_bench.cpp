// A reload of a 1,000-line time.txt as the running program does it: read,
// decode (UTF-8 with Chinese names), diff against the lines in force, one
// scheduler replace, the schedules of the new lines, "下次提醒". The file
// alternates between two versions: one line changed, or every line new.
//   live_bench --benchmark_filter=Reload
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "app/live.h"
#include "app/reminder.h"
#include "app/schedule_file.h"
#include "app/week_grid.h"
#include "crontab_object.h"
#include "runtime/codepage.h"
#include "runtime/file.h"
#include "temp_folder.h"

#include "fakes.h"
#include "sim_time.h"

namespace {

namespace fs = std::filesystem;

using rt::testing::QuietConsole;

std::string Line(int i, int version) {
  return std::to_string(i % 60) + " " + std::to_string(i / 60 % 60) + " " +
         std::to_string(8 + i % 14) + " * * 1-5 * 任务" + std::to_string(i) + "v" +
         std::to_string(version) + "\n";
}

// lines lines; `changed` of them carry the version in their name.
std::string FileOf(int lines, int changed, int version) {
  std::string text = "# 计划\n";
  for (int i = 0; i < lines; ++i) text += Line(i, i < changed ? version : 0);
  return rt::TextToUtf8(text);
}

void Reload(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const int changed = static_cast<int>(state.range(1));
  const rt::testing::TempFolder folder("live_bench_");
  const fs::path& dir = folder.path();
  QuietConsole console;
  rt::testing::FixedClock clock;
  rt::testing::SimTime timers;  // never advanced: the bench calls Reload itself
  app::AppContext context;
  context.console = &console;
  context.clock = &clock;
  context.directory = rt::Path::FromText(dir.string());
  context.timers = &timers;
  cron::SetObjectFactory([&clock, &timers] {
    return std::make_unique<cron::crontab>(
        clock, [&timers] { return std::make_unique<rt::testing::SimQueue>(timers); });
  });
  crontab_handle scheduler{};
  crontab_Intialize(&scheduler);
  const rt::Path path = app::ProgramFile(context, app::kScheduleFile);
  const std::string versions[2] = {FileOf(lines, changed, 1), FileOf(lines, changed, 2)};
  app::History history;
  app::LiveSchedule live([&context]() -> const app::AppContext& { return context; }, history,
                         [](double, const char*) {});
  live.Begin(&scheduler, {}, rt::Utf8ToText(versions[0]), &timers);
  int next = 1;
  for (auto _ : state) {
    state.PauseTiming();
    rt::WriteFileBytes(path, rt::Bytes(versions[next].begin(), versions[next].end()));
    const rt::FileStamp stamp = rt::StatFile(path);
    state.ResumeTiming();
    live.Reload(stamp);
    next ^= 1;
  }
  state.counters["tasks"] = crontab_Tasks(&scheduler);
  live.End();
  crontab_Destroy(&scheduler);
  cron::SetObjectFactory(nullptr);
}
BENCHMARK(Reload)
    ->ArgNames({"lines", "changed"})
    ->Args({1000, 1})
    ->Args({1000, 1000})
    ->Unit(benchmark::kMillisecond);

// The week of --check: lines of every-second tasks (each its own name), so
// that every hour holds 3,600 firings of each and every pair collides.
//   live_bench --benchmark_filter=WeekReport
void WeekReport(benchmark::State& state) {
  std::vector<std::string> lines;
  for (int i = 0; i < state.range(0); ++i) lines.push_back("* * * * * * * t" + std::to_string(i));
  const rt::SystemTime monday{2026, 12, 1, 7, 9, 30, 0, 0};
  for (auto _ : state) benchmark::DoNotOptimize(app::WeekReport(lines, monday));
}
BENCHMARK(WeekReport)->ArgName("lines")->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
