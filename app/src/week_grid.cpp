#include "app/week_grid.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

#include "app/command_line.h"
#include "app/message.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"

namespace app {
namespace {

constexpr int kDays = 7;
constexpr int kHours = kDays * 24;
constexpr std::int64_t kHour = 3600;
constexpr std::size_t kPairsShown = 5;

// The hours of the week a task fires in, a bit each.
struct HourBits {
  std::array<std::uint64_t, (kHours + 63) / 64> words{};
  void Set(int h) { words[h / 64] |= std::uint64_t{1} << (h % 64); }
};

struct Week {
  std::int64_t first = 0;  // LocalSeconds of today's midnight
  std::array<std::int64_t, kHours> perHour{};
  std::vector<HourBits> fires;  // per task; hours a daylight-saving gap touches left out
};

// Two tasks firing in the same second: the first time and how often.
struct Collision {
  std::size_t a = 0, b = 0;
  std::int64_t first = 0;
  std::int64_t count = 0;
};

std::vector<cron::Schedule> InstalledTasks(const std::vector<std::string>& lines,
                                           const rt::SystemTime& now, const cron::LocalZone& zone) {
  const std::vector<std::string> reasons = RefusalReasons(lines, now, zone);
  const int year = now.year;
  std::vector<cron::Schedule> tasks;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!reasons[i].empty()) continue;
    if (auto s = cron::Schedule::Parse(SplitTaskLine(lines[i]).schedule, year)) {
      tasks.push_back(std::move(*s));
    }
  }
  return tasks;
}

bool TouchesGap(std::int64_t first, std::int64_t last, const std::vector<cron::LocalGap>& gaps) {
  return std::any_of(gaps.begin(), gaps.end(), [&](const cron::LocalGap& g) {
    return (g.first <= last && g.last >= first) || (g.last + 1 >= first && g.last + 1 <= last);
  });
}

// Hour by hour, from the compiled fields: an hour a task fires in holds all
// its minutes times all its seconds, so an every-second task costs what an
// hourly one does. Hours a gap touches are counted as the tick fires them.
Week CountWeek(const std::vector<cron::Schedule>& tasks, std::int64_t first,
               const cron::LocalZone& zone) {
  Week week{.first = first, .fires = std::vector<HourBits>(tasks.size())};
  const std::vector<cron::LocalGap> gaps = zone.GapsBetween(first, first + kHours * kHour - 1);
  for (int h = 0; h < kHours; ++h) {
    const std::int64_t start = first + h * kHour;
    const bool gap = TouchesGap(start, start + kHour - 1, gaps);
    rt::SystemTime at = cron::TimeFromLocalSeconds(start);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      if (gap) {
        week.perHour[h] += cron::FiringsIn(tasks[i], start, start + kHour - 1, gaps);
        continue;
      }
      const cron::Fields& f = tasks[i].fields();
      at.minute = std::countr_zero(f.minute);
      at.second = std::countr_zero(f.second);
      if (!cron::TaskMatchesTime(f, at)) continue;
      week.perHour[h] += std::int64_t{std::popcount(f.minute)} * std::popcount(f.second);
      week.fires[i].Set(h);
    }
  }
  return week;
}

// Every pair of tasks with a second in common, by the same fields: only the
// first few (by time) are kept, the rest counted.
std::vector<Collision> Collisions(const std::vector<cron::Schedule>& tasks, const Week& week,
                                  std::size_t& pairs) {
  std::vector<Collision> shown;
  pairs = 0;
  for (std::size_t a = 0; a < tasks.size(); ++a) {
    const cron::Fields& fa = tasks[a].fields();
    for (std::size_t b = a + 1; b < tasks.size(); ++b) {
      const cron::Fields& fb = tasks[b].fields();
      const std::uint64_t minutes = fa.minute & fb.minute;
      const std::uint64_t seconds = fa.second & fb.second;
      if (minutes == 0 || seconds == 0) continue;
      int hours = 0, firstHour = -1;
      for (std::size_t w = 0; w < week.fires[a].words.size(); ++w) {
        const std::uint64_t both = week.fires[a].words[w] & week.fires[b].words[w];
        if (both != 0 && firstHour < 0)
          firstHour = static_cast<int>(w * 64) + std::countr_zero(both);
        hours += std::popcount(both);
      }
      if (hours == 0) continue;
      ++pairs;
      const Collision c{a, b,
                        week.first + firstHour * kHour + std::countr_zero(minutes) * 60 +
                            std::countr_zero(seconds),
                        std::int64_t{hours} * std::popcount(minutes) * std::popcount(seconds)};
      const auto at = std::upper_bound(
          shown.begin(), shown.end(), c,
          [](const Collision& x, const Collision& y) { return x.first < y.first; });
      if (at - shown.begin() < static_cast<std::ptrdiff_t>(kPairsShown)) shown.insert(at, c);
      if (shown.size() > kPairsShown) shown.pop_back();
    }
  }
  return shown;
}

std::string DayText(std::int64_t seconds, bool withTime) {
  const rt::SystemTime t = cron::TimeFromLocalSeconds(seconds);
  const rt::DateTime at = rt::MakeDateTime(t.year, t.month, t.day, t.hour, t.minute, t.second);
  return rt::FormatDateTime(at, "MM-dd ddd", withTime ? " HH:mm:ss" : "", true);
}

std::string PaddedNumber(std::int64_t n, std::size_t width) {
  const std::string digits = std::to_string(n);
  return std::string(width > digits.size() ? width - digits.size() : 0, ' ') + digits;
}

// Rows of "MM-dd 周X" and two columns an hour: the row is 65 columns wide.
std::string Grid(const Week& week, std::int64_t& fewest, std::int64_t& most) {
  std::string out = "从今天起 7 天每小时的提醒次数 (+ 为 10 次以上):\r\n           ";
  for (int h = 0; h < 24; h += 2) out += (std::to_string(h) + "    ").substr(0, 4);
  out += "  合计\r\n";
  fewest = std::numeric_limits<std::int64_t>::max();
  most = 0;
  for (int d = 0; d < kDays; ++d) {
    out += DayText(week.first + d * 24 * kHour, false) + " ";
    std::int64_t sum = 0;
    for (int h = d * 24; h < d * 24 + 24; ++h) {
      const std::int64_t n = week.perHour[h];
      sum += n;
      out += n == 0 ? ' ' : n <= 9 ? static_cast<char>('0' + n) : '+';
      out += ' ';
    }
    out += PaddedNumber(sum, 6) + "\r\n";
    fewest = std::min(fewest, sum);
    most = std::max(most, sum);
  }
  return out;
}

// Two lines a pair, each within 80 columns.
std::string CollisionNotes(const std::vector<cron::Schedule>& tasks,
                           const std::vector<Collision>& shown, std::size_t pairs) {
  std::string out;
  for (const Collision& c : shown) {
    out +=
        rt::JoinTexts("注意: ", rt::ShownText(tasks[c.a].name(), 24), " 和 ",
                      rt::ShownText(tasks[c.b].name(), 24), " 在同一秒触发\r\n      最早 ",
                      DayText(c.first, true), "，这 7 天共 ", std::to_string(c.count), " 次\r\n");
  }
  if (pairs > shown.size()) {
    out += rt::JoinTexts("注意: 还有 ", std::to_string(pairs - shown.size()),
                         " 对任务在同一秒触发\r\n");
  }
  return out;
}

}  // namespace

std::string WeekReport(const std::vector<std::string>& lines, const rt::SystemTime& now,
                       const cron::LocalZone& zone) {
  const std::vector<cron::Schedule> tasks = InstalledTasks(lines, now, zone);
  if (tasks.empty()) return {};
  const std::int64_t today = cron::LocalSeconds({now.year, now.month, 0, now.day, 0, 0, 0, 0});
  const Week week = CountWeek(tasks, today, zone);
  std::int64_t fewest = 0, most = 0;
  std::string out = "\r\n" + Grid(week, fewest, most);
  if (most == 0) return "\r\n从今天起 7 天没有提醒\r\n";
  out += fewest == most ? rt::JoinTexts("每天 ", std::to_string(most), " 条提醒\r\n")
                        : rt::JoinTexts("每天 ", std::to_string(fewest), " 至 ",
                                        std::to_string(most), " 条提醒\r\n");
  if (most > kRelayFreeDailyAllowance) {
    out +=
        rt::JoinTexts("注意: 一天最多 ", std::to_string(most), " 条，超过 Server酱 免费 key 每天 ",
                      std::to_string(kRelayFreeDailyAllowance), " 条的额度，多的会被拒绝\r\n");
  }
  std::size_t pairs = 0;
  const std::vector<Collision> shown = Collisions(tasks, week, pairs);
  return out + CollisionNotes(tasks, shown, pairs);
}

}  // namespace app
