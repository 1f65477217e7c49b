#include "app/week_grid.h"

#include <gtest/gtest.h>

#include "app/schedule_file.h"
#include "dst_clock.h"

namespace app {
namespace {

// A Monday morning.
constexpr rt::SystemTime kMonday{2026, 12, 1, 7, 9, 30, 0, 0};

const std::string kHeader =
    "\r\n从今天起 7 天每小时的提醒次数 (+ 为 10 次以上):\r\n"
    "           0   2   4   6   8   10  12  14  16  18  20  22    合计\r\n";

// The row of the first day that starts with `date`.
std::string Row(const std::string& report, const std::string& date) {
  const std::size_t at = report.find("\r\n" + date);
  if (at == std::string::npos) return {};
  return report.substr(at + 2, report.find("\r\n", at + 2) - at - 2);
}

TEST(WeekReport, DefaultScheduleSendsTwelveADayPastTheFreeAllowance) {
  const std::string day = "                 1   1 1 1 1 1 1   1   1   1 1 1     12\r\n";
  EXPECT_EQ(WeekReport(ScheduleLines(""), kMonday),
            kHeader + "12-07 周一" + day + "12-08 周二" + day + "12-09 周三" + day + "12-10 周四" +
                day + "12-11 周五" + day + "12-12 周六" + day + "12-13 周日" + day +
                "每天 12 条提醒\r\n"
                "注意: 一天最多 12 条，超过 Server酱 免费 key 每天 5 条的额度，多的会被拒绝\r\n");
}

TEST(WeekReport, TwoTasksInOneSecondAreNamed) {
  const std::string report = WeekReport({"0 0 9 * * 1 * a", "0 0 9 * * 1-5 * b"}, kMonday);
  EXPECT_EQ(Row(report, "12-07"),
            "12-07 周一                   2                                  2");
  EXPECT_EQ(Row(report, "12-08"),
            "12-08 周二                   1                                  1");
  EXPECT_EQ(Row(report, "12-13"),
            "12-13 周日                                                      0");
  EXPECT_EQ(report.substr(report.find("每天")),
            "每天 0 至 2 条提醒\r\n"
            "注意: a 和 b 在同一秒触发\r\n"
            "      最早 12-07 周一 09:00:00，这 7 天共 1 次\r\n");
}

TEST(WeekReport, EverySecondTaskIsCountedWhole) {
  const std::string report = WeekReport({"* * * * * * * x"}, kMonday);
  EXPECT_EQ(Row(report, "12-10"),
            "12-10 周四 + + + + + + + + + + + + + + + + + + + + + + + +  86400");
  EXPECT_NE(report.find("每天 86400 条提醒\r\n"), std::string::npos);
  EXPECT_NE(report.find("一天最多 86400 条"), std::string::npos);
  EXPECT_EQ(report.find("同一秒"), std::string::npos);  // one task collides with nothing
}

// The cell of Monday 09:00 and the day's sum.
TEST(WeekReport, CellsShowCountsUpToNineThenAMark) {
  struct Case {
    std::vector<std::string> lines;
    char cell;
    std::string sum;
  } cases[] = {
      {{"0 0 9 * * * * one"}, '1', "1"},
      {{"0 0-8 9 * * * * nine"}, '9', "9"},
      {{"0 0-9 9 * * * * ten"}, '+', "10"},
      {{"0,30 */20 9 * * * * six"}, '6', "6"},
      {{"0 0 9 * * * * a", "0 0 9 * * * * A", "0 60 9 * * * * bad"}, '1', "1"},  // refused lines
      {{"0 0 9 * * 1 2026 a", "0 0 9 * * 2 2027 b"}, '1', "1"},
  };
  for (const auto& c : cases) {
    const std::string row = Row(WeekReport(c.lines, kMonday), "12-07");
    ASSERT_EQ(row.size(), 65u) << c.lines[0];
    EXPECT_EQ(row[11 + 9 * 2], c.cell) << c.lines[0];
    EXPECT_EQ(row.substr(row.find_last_of(' ') + 1), c.sum) << c.lines[0];
  }
}

TEST(WeekReport, NothingToShow) {
  EXPECT_EQ(WeekReport({"0 0 9 1 1 * * 元旦"}, kMonday), "\r\n从今天起 7 天没有提醒\r\n");
  EXPECT_EQ(WeekReport({"0 60 9 * * * * bad"}, kMonday), "");
}

TEST(WeekReport, ManyCollidingPairsAreCountedNotAllListed) {
  std::vector<std::string> lines;
  for (int i = 0; i < 7; ++i) lines.push_back("0 0 9 * * * * t" + std::to_string(i));
  lines.push_back("30 * 8 * * 1 * early");  // collides with nothing
  lines.push_back("0 0 * * * 1 * hourly");  // collides with every t at 09:00 on Monday
  const std::string report = WeekReport(lines, kMonday);
  const std::string notes = report.substr(report.find("注意: t0"));
  EXPECT_EQ(notes.substr(0, notes.find("注意: t0 和 t2")),
            "注意: t0 和 t1 在同一秒触发\r\n      最早 12-07 周一 09:00:00，这 7 天共 7 次\r\n");
  EXPECT_NE(report.find("注意: 还有 23 对任务在同一秒触发\r\n"), std::string::npos);
  EXPECT_EQ(report.find("early"), std::string::npos);
}

TEST(WeekReport, EveryLineFitsEightyColumns) {
  const std::string longName(60, 'n');
  const std::string report = WeekReport(
      {"* * * * * * * " + longName, "* * * * * * * 很长的名字很长的名字很长的名字很长的名字"},
      kMonday);
  std::size_t start = 0;
  while (start < report.size()) {
    const std::size_t end = report.find("\r\n", start);
    // Code page 936: a byte a column.
    EXPECT_LE(end - start, 80u) << report.substr(start, end - start);
    start = end + 2;
  }
}

// Spring forward at 02:00 on 2026-03-29: the hour does not exist; a task
// bound to it fires once at 03:00, an hourly one does not.
TEST(WeekReport, DaylightSavingGapCountsAsTheTickFires) {
  cron::test::DstClock clock;
  clock.SetUtc(cron::test::DstClock::Utc(2026, 3, 28, 8, 0, 0));
  const cron::LocalZone zone(clock);
  const rt::SystemTime saturday = clock.LocalTime();
  const std::string bound = Row(WeekReport({"0 30 2 * * * * x"}, saturday, zone), "03-29");
  EXPECT_EQ(bound.substr(11 + 2 * 2, 4), "  1 ") << bound;
  const std::string hourly = Row(WeekReport({"0 0 * * * * * h"}, saturday, zone), "03-29");
  EXPECT_EQ(hourly.substr(11 + 2 * 2, 4), "  1 ") << hourly;
  EXPECT_EQ(hourly.substr(hourly.size() - 2), "23") << hourly;
}

}  // namespace
}  // namespace app
