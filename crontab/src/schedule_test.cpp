#include "crontab/schedule.h"
#include "runtime/datetime_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "dst_clock.h"
#include "reference_matcher.h"

namespace cron {
namespace {

constexpr int kYear = 2026;
const char kDefaultLine[] = "1 1 8,10,11,12,13,14,15,17,19,21,22,23 * * * * 定时提醒";

rt::SystemTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return TimeFromLocalSeconds(LocalSeconds({y, mo, 0, d, h, mi, s, 0}));
}

std::string Text(const rt::SystemTime& t) {
  return rt::SystemTimeText(t);
}

std::string LineWith(int position, const std::string& field) {
  std::string fields[7] = {"*", "*", "*", "*", "*", "*", "*"};
  fields[position - 1] = field;
  std::string line;
  for (const auto& f : fields) line += f + " ";
  return line + "name";
}

TEST(ValidateFieldValueTest, Table) {
  struct Case {
    const char* text;
    int position;
    bool isStep;
    bool valid;
  };
  const Case cases[] = {
      {"0", kSecondField, false, true},
      {"00", kSecondField, false, false},
      {"08", kHourField, false, false},
      {"59", kMinuteField, false, true},
      {"60", kMinuteField, false, false},
      {"+5", kSecondField, false, false},
      {"-1", kSecondField, false, false},
      {"5x", kSecondField, false, false},
      {" 5", kSecondField, false, false},
      {"", kSecondField, false, false},
      {"23", kHourField, false, true},
      {"24", kHourField, false, false},
      {"0", kDayField, false, false},
      {"31", kDayField, false, true},
      {"13", kMonthField, false, false},
      {"6", kDayOfWeekField, false, true},
      {"7", kDayOfWeekField, false, false},
      {"2025", kYearField, false, false},
      {"2026", kYearField, false, true},
      {"30827", kYearField, false, true},
      {"30828", kYearField, false, false},
      {"0", kSecondField, true, false},
      {"59", kSecondField, true, true},
      {"23", kHourField, true, true},
      {"24", kHourField, true, false},
      {"6", kDayOfWeekField, true, true},
      {"7", kDayOfWeekField, true, false},
      {"2", kYearField, true, false},
      {"2026", kYearField, true, true},
      {"5", 0, false, false},
      {"5", 8, false, false},
      {"4294967297", kYearField, false, false},
      {"2147483648", kYearField, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValidateFieldValue(c.text, c.position, c.isStep, kYear), c.valid)
        << '"' << c.text << "\" at " << c.position << (c.isStep ? " as step" : "");
  }
}

TEST(ScheduleTest, FieldForms) {
  struct Case {
    int position;
    const char* field;
    const char* expanded;  // nullptr: the line is refused
  };
  const Case cases[] = {
      {kSecondField, "*", "*"},
      {kMinuteField, "*/15", ":0:15:30:45:"},
      {kMinuteField, "10-40/15", ":15:30:"},
      {kMinuteField, "0/15", ":0:"},
      {kMinuteField, "30/15", ":30:"},
      {kMinuteField, "5/15", nullptr},  // expands to nothing
      {kDayField, "*/2", ":2:4:6:8:10:12:14:16:18:20:22:24:26:28:30:"},
      {kMinuteField, "30,10", ":30:10:"},
      {kHourField, "8-11", ":8:9:10:11:"},
      {kDayOfWeekField, "1-5", ":1:2:3:4:5:"},
      {kDayOfWeekField, "6-2", nullptr},
      {kSecondField, "5-5", nullptr},
      {kSecondField, "5-3", nullptr},
      {kSecondField, "1,1", nullptr},
      {kSecondField, "3,1,3", nullptr},
      {kSecondField, "1-5,10", nullptr},
      {kSecondField, "1,5-10", nullptr},
      {kSecondField, "1/2/3", nullptr},
      {kSecondField, "-5", nullptr},
      {kSecondField, ",5", nullptr},
      {kSecondField, "5,", nullptr},
      {kSecondField, "*/0", nullptr},
      {kMinuteField, "*/60", nullptr},
      {kHourField, "*/24", nullptr},
      {kDayOfWeekField, "*/7", nullptr},
      {kMonthField, "*/13", nullptr},
      {kMonthField, "*/12", ":12:"},
      {kYearField, "*", "*"},
      {kYearField, "2025", nullptr},
      {kYearField, "30828", nullptr},
      {kYearField, "*/2", nullptr},
      {kYearField, "*/10000", ":10000:20000:30000:"},
      {kYearField, "2027,2026", ":2027:2026:"},
      {kSecondField, "1\t", nullptr},
      {kSecondField, "*/", nullptr},
      {kSecondField, "/5", nullptr},
      {kSecondField, "5-/5", ":5:"},  // the base splits into one part
  };
  for (const auto& c : cases) {
    const std::string line = LineWith(c.position, c.field);
    const auto schedule = Schedule::Parse(line, kYear);
    EXPECT_EQ(schedule.has_value(), c.expanded != nullptr) << line;
    if (schedule && c.expanded) {
      EXPECT_EQ(reference::ExpandedField(*schedule, c.position), c.expanded) << line;
    }
  }
  // 28,802 values: 7,974 of four digits and 20,828 of five.
  EXPECT_EQ(ExpandField("2026-30827", kYearField, kYear).size(), 7'974u * 5 + 20'828u * 6 + 1);
  EXPECT_EQ(ExpandRange("3-5"), ":3:4:5:");
  EXPECT_EQ(ExpandRange("5-3"), "");
}

TEST(ScheduleTest, LineShapes) {
  struct Case {
    std::string line;
    bool valid;
    const char* name;
  };
  const Case cases[] = {
      {kDefaultLine, true, "定时提醒"},
      {"* * * * * * *", false, nullptr},
      {"* * * * * * * a b", false, nullptr},
      {" * * * * * * * a", false, nullptr},
      {"* * * * * * * a ", true, "a"},
      {"* *  * * * * * a", false, nullptr},
      {"* * * * * * * a  ", false, nullptr},
      {"* * * * * * *  ", true, ""},
      {"* * * * * * * a\r\n", true, "a\r\n"},
      {"* * * * * * * a|b:c", true, "a|b:c"},
      {"", false, nullptr},
  };
  for (const auto& c : cases) {
    const auto schedule = Schedule::Parse(c.line, kYear);
    EXPECT_EQ(schedule.has_value(), c.valid) << '"' << c.line << '"';
    if (schedule) {
      EXPECT_EQ(schedule->name(), c.name);
      EXPECT_STREQ(schedule->nameText(), c.name);
      EXPECT_EQ(schedule->line(), c.line);
    }
  }
  std::string why;
  EXPECT_FALSE(Schedule::Parse("1 2 3", kYear, &why));
  EXPECT_NE(why.find("3 items"), std::string::npos) << why;
  EXPECT_FALSE(Schedule::Parse("* 60 * * * * * a", kYear, &why));
  EXPECT_NE(why.find("field 2 (minute) \"60\""), std::string::npos) << why;
}

TEST(ScheduleTest, DefaultLineFiresOnlyAtItsSeconds) {
  const auto schedule = Schedule::Parse(kDefaultLine, kYear);
  ASSERT_TRUE(schedule);
  std::vector<std::string> fired;
  const std::int64_t day = LocalSeconds(At(2026, 12, 7));
  for (std::int64_t s = day; s < day + 86400; ++s) {
    const auto t = TimeFromLocalSeconds(s);
    if (schedule->Matches(t)) fired.push_back(Text(t).substr(11));
  }
  const std::vector<std::string> expected = {"08:01:01", "10:01:01", "11:01:01", "12:01:01",
                                             "13:01:01", "14:01:01", "15:01:01", "17:01:01",
                                             "19:01:01", "21:01:01", "22:01:01", "23:01:01"};
  EXPECT_EQ(fired, expected);
}

TEST(ScheduleTest, MatchingTable) {
  struct Case {
    const char* line;
    rt::SystemTime time;
    bool matches;
  };
  const Case cases[] = {
      {"0 0 0 31 * * * a", At(2027, 1, 31), true},
      {"0 0 0 31 * * * a", At(2027, 4, 30), false},
      {"0 0 0 30 2 * * a", At(2028, 2, 29), false},
      // Day of month and day of week must both match: 2027-08-13 is a Friday.
      {"0 0 12 13 * 5 * a", At(2027, 8, 13, 12), true},
      {"0 0 12 13 * 4 * a", At(2027, 8, 13, 12), false},
      {"0 0 12 * * 5 * a", At(2027, 8, 20, 12), true},
      {"* * * * * * 2027 a", At(2027, 1, 1), true},
      {"* * * * * * 2027 a", At(2026, 12, 31, 23, 59, 59), false},
      {"* * * * * * 2027-30827 a", At(30827, 5, 5), true},
      {"* * * * * * 2027-30827 a", At(2026, 5, 5), false},
      {"* * * * * * */2027 a", At(4054, 5, 5), true},
      {"* * * * * * */2027 a", At(4055, 5, 5), false},
      {"30,10 * * * * * * a", At(2027, 1, 1, 0, 0, 10), true},
      {"30,10 * * * * * * a", At(2027, 1, 1, 0, 0, 20), false},
  };
  for (const auto& c : cases) {
    const auto schedule = Schedule::Parse(c.line, kYear);
    ASSERT_TRUE(schedule) << c.line;
    EXPECT_EQ(schedule->Matches(c.time), c.matches) << c.line << " at " << Text(c.time);
  }
}

// A random field of one of the five forms, valid or not.
std::string RandomField(std::mt19937& rng, int position) {
  const int low = position == kYearField                             ? kYear
                  : position == kDayField || position == kMonthField ? 1
                                                                     : 0;
  const int high = std::array{59, 59, 23, 31, 12, 6, kYear + 6}[position - 1];
  auto value = [&] { return std::to_string(std::uniform_int_distribution(low, high)(rng)); };
  auto step = [&] { return std::to_string(std::uniform_int_distribution(1, 12)(rng)); };
  switch (std::uniform_int_distribution(0, 5)(rng)) {
    case 0:
      return "*";
    case 1:
      return "*/" + (position == kYearField ? std::to_string(kYear + 1) : step());
    case 2:
      return value() + "-" + value() + "/" + step();
    case 3:
      return value() + "-" + value();
    case 4:
      return value() + "," + value() + "," + value();
    default:
      return value();
  }
}

TEST(ScheduleTest, CompiledMatcherAgreesWithSubstringReference) {
  std::mt19937 rng(20260301);
  int checked = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    for (int p = 1; p <= kFieldCount; ++p) line += RandomField(rng, p) + " ";
    const auto schedule = Schedule::Parse(line + "n", kYear);
    if (!schedule) continue;
    std::array<std::string, kFieldCount> texts;
    for (int p = 1; p <= kFieldCount; ++p) texts[p - 1] = reference::ExpandedField(*schedule, p);
    for (int k = 0; k < 200; ++k) {
      const auto t = TimeFromLocalSeconds(
          LocalSeconds(At(kYear, 1, 1)) +
          std::uniform_int_distribution<std::int64_t>(0, 8LL * 366 * 86400)(rng));
      ASSERT_EQ(schedule->Matches(t), reference::TaskMatches(texts, t)) << line << Text(t);
      ++checked;
    }
  }
  EXPECT_GT(checked, 50'000);
}

TEST(ScheduleTest, NextFirings) {
  struct Case {
    const char* line;
    rt::SystemTime from;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {kDefaultLine,
       At(2026, 12, 31, 22, 1, 1),
       {"2026-12-31 23:01:01", "2027-01-01 08:01:01", "2027-01-01 10:01:01"}},
      {"0 0 0 29 2 * * leap",
       At(2026, 3, 1),
       {"2028-02-29 00:00:00", "2032-02-29 00:00:00", "2036-02-29 00:00:00"}},
      {"0 0 0 1 1 * * yearly",
       At(2026, 12, 31, 23, 59, 59),
       {"2027-01-01 00:00:00", "2028-01-01 00:00:00", "2029-01-01 00:00:00"}},
      {"*/20 * * * * * * s",
       At(2026, 12, 31, 23, 59, 40),
       {"2027-01-01 00:00:00", "2027-01-01 00:00:20", "2027-01-01 00:00:40"}},
      {"0 0 12 13 * 5 2027 fri13", At(2026, 1, 1), {"2027-08-13 12:00:00"}},
      {"0 0 0 30 2 * * never", At(2026, 1, 1), {}},
      {"0 0 0 31 4,6,9,11 * 2026-30827 never", At(2026, 1, 1), {}},
      {"59 59 23 31 12 * 30827 last", At(2026, 1, 1), {"30827-12-31 23:59:59"}},
  };
  for (const auto& c : cases) {
    const auto schedule = Schedule::Parse(c.line, kYear);
    ASSERT_TRUE(schedule) << c.line;
    std::vector<std::string> got;
    for (const auto& t : schedule->NextFirings(c.from, 3)) got.push_back(Text(t));
    EXPECT_EQ(got, c.expected) << c.line;
  }
}

TEST(ScheduleTest, NextAfterAgreesWithSecondBySecondSearch) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    // Dense enough fields that the brute force finds something within a day.
    const std::string line =
        RandomField(rng, 1) + " " + RandomField(rng, 2) + " " + RandomField(rng, 3) + " * * * * n";
    const auto schedule = Schedule::Parse(line, kYear);
    if (!schedule) continue;
    const std::int64_t from =
        LocalSeconds(At(2027, 2, 27)) + std::uniform_int_distribution(0, 86400 * 3)(rng);
    std::optional<std::int64_t> expected;
    for (std::int64_t s = from + 1; s <= from + 86400 + 1 && !expected; ++s) {
      if (schedule->Matches(TimeFromLocalSeconds(s))) expected = s;
    }
    const auto next = schedule->NextAfter(TimeFromLocalSeconds(from));
    ASSERT_TRUE(expected && next) << line;
    EXPECT_EQ(LocalSeconds(*next), *expected) << line;
  }
}

TEST(FiringsBetweenTest, InTimeOrderThenListOrderAndBounded) {
  const auto hourly = *Schedule::Parse("0 0 * * * * * hourly", kYear);
  const auto preset = *Schedule::Parse(kDefaultLine, kYear);
  const auto never = *Schedule::Parse("0 0 0 1 1 * 30000 never", kYear);
  const auto noon = *Schedule::Parse("0 0 12 * * * * noon", kYear);
  const Schedule* list[] = {&hourly, &preset, &never, &noon};
  const auto text = [&](const std::vector<Firing>& firings) {
    std::vector<std::string> out;
    for (const auto& f : firings) {
      out.push_back(Text(TimeFromLocalSeconds(f.second)).substr(11) + " " +
                    std::string(list[f.index]->name()));
    }
    return out;
  };
  using V = std::vector<std::string>;
  const std::int64_t from = LocalSeconds(At(2026, 12, 6, 9, 0, 31));
  const std::int64_t to = LocalSeconds(At(2026, 12, 6, 12, 0, 30));
  bool more = true;
  EXPECT_EQ(text(FiringsBetween(list, from, to, 100, &more)),
            (V{"10:00:00 hourly", "10:01:01 定时提醒", "11:00:00 hourly", "11:01:01 定时提醒",
               "12:00:00 hourly", "12:00:00 noon"}));
  EXPECT_FALSE(more);
  // Both ends belong to the span.
  EXPECT_EQ(text(FiringsBetween(list, LocalSeconds(At(2026, 12, 6, 10, 1, 1)),
                                LocalSeconds(At(2026, 12, 6, 11, 0, 0)), 100)),
            (V{"10:01:01 定时提醒", "11:00:00 hourly"}));
  EXPECT_EQ(text(FiringsBetween(list, from, to, 3, &more)),
            (V{"10:00:00 hourly", "10:01:01 定时提醒", "11:00:00 hourly"}));
  EXPECT_TRUE(more);
  EXPECT_TRUE(FiringsBetween(list, to, from, 100, &more).empty());
  EXPECT_FALSE(more);
  // A week asleep with a task every second: bounded work, bounded answer.
  const auto every = *Schedule::Parse("* * * * * * * every", kYear);
  const Schedule* busy[] = {&every};
  EXPECT_EQ(FiringsBetween(busy, from, from + 7 * 86400, 50, &more).size(), 50u);
  EXPECT_TRUE(more);
}

std::vector<std::string> Texts(const std::vector<rt::SystemTime>& times) {
  std::vector<std::string> out;
  for (const auto& t : times) out.push_back(Text(t));
  return out;
}

TEST(LocalZoneTest, GapsOfTheSpringForwardOnly) {
  test::DstClock clock;
  const LocalZone zone(clock);
  const LocalGap spring{LocalSeconds(At(2026, 3, 29, 2)), LocalSeconds(At(2026, 3, 29, 2, 59, 59))};
  EXPECT_EQ(zone.GapAt(LocalSeconds(At(2026, 3, 29, 2, 30))), spring);
  EXPECT_EQ(zone.GapAt(spring.first), spring);
  EXPECT_EQ(zone.GapAt(spring.last), spring);
  EXPECT_FALSE(zone.GapAt(spring.first - 1));
  EXPECT_FALSE(zone.GapAt(spring.last + 1));
  EXPECT_FALSE(zone.GapAt(LocalSeconds(At(2026, 10, 25, 2, 30))));  // twice, but it exists
  EXPECT_EQ(zone.GapsBetween(LocalSeconds(At(2026, 1, 1)), LocalSeconds(At(2026, 12, 31))),
            std::vector<LocalGap>{spring});
  EXPECT_EQ(zone.GapsBetween(spring.last, spring.last + 10), std::vector<LocalGap>{spring});
  EXPECT_TRUE(zone.GapsBetween(spring.last + 1, spring.last + 10).empty());
  EXPECT_FALSE(LocalZone().GapAt(spring.first));  // no zone, no gaps
}

// No time inside the gap is ever given: a task bound to the hour fires
// once at its end, a task of every hour goes on with its next time.
TEST(LocalZoneTest, NextFiringsStepOverTheGap) {
  test::DstClock clock;
  const LocalZone zone(clock);
  struct Case {
    std::string line;
    rt::SystemTime from;
    std::vector<std::string> times;
  } cases[] = {
      {"0 30 2 * * * * daily", At(2026, 3, 28, 12), {"2026-03-29 03:00:00", "2026-03-30 02:30:00"}},
      {"0 */20 2 * * * * thrice",
       At(2026, 3, 29, 1),
       {"2026-03-29 03:00:00", "2026-03-30 02:00:00"}},
      {"0 30 * * * * * hourly",
       At(2026, 3, 29, 1, 40),
       {"2026-03-29 03:30:00", "2026-03-29 04:30:00"}},
      {"* * * * * * * every",
       At(2026, 3, 29, 1, 59, 58),
       {"2026-03-29 01:59:59", "2026-03-29 03:00:00"}},
      {"0 0 3 * * * * three", At(2026, 3, 29, 1), {"2026-03-29 03:00:00", "2026-03-30 03:00:00"}},
  };
  for (const auto& c : cases) {
    const auto schedule = Schedule::Parse(c.line, kYear);
    ASSERT_TRUE(schedule) << c.line;
    EXPECT_EQ(Texts(schedule->NextFirings(c.from, 2, zone)), c.times) << c.line;
  }
  // Without a zone the same lines keep their plain times.
  EXPECT_EQ(Text(*Schedule::Parse("0 30 2 * * * * d", kYear)->NextAfter(At(2026, 3, 29, 1), {})),
            "2026-03-29 02:30:00");
}

#ifndef _WIN32
// The machine's own zone rules, through the runtime's clock.
TEST(LocalZoneTest, SystemClockKnowsTheZonesGaps) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  const LocalZone zone(rt::SystemClock());
  const auto gap = zone.GapAt(LocalSeconds(At(2026, 3, 29, 2, 30)));
  const auto every = Schedule::Parse("0 30 2 * * * * d", kYear);
  const auto next = every->NextAfter(At(2026, 3, 29, 1), zone);
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  ASSERT_TRUE(gap);
  EXPECT_EQ(*gap,
            (LocalGap{LocalSeconds(At(2026, 3, 29, 2)), LocalSeconds(At(2026, 3, 29, 2, 59, 59))}));
  EXPECT_EQ(Text(*next), "2026-03-29 03:00:00");
}
#endif

TEST(ScheduleTest, LastAtOrBeforeAgreesWithSecondBySecondSearch) {
  std::mt19937 rng(11);
  for (int i = 0; i < 300; ++i) {
    const std::string line =
        RandomField(rng, 1) + " " + RandomField(rng, 2) + " " + RandomField(rng, 3) + " * * * * n";
    const auto schedule = Schedule::Parse(line, kYear);
    if (!schedule) continue;
    const std::int64_t at =
        LocalSeconds(At(2027, 3, 1)) + std::uniform_int_distribution(0, 86400 * 3)(rng);
    std::optional<std::int64_t> expected;
    for (std::int64_t s = at; s >= at - 86400 - 1 && !expected; --s) {
      if (schedule->Matches(TimeFromLocalSeconds(s))) expected = s;
    }
    const auto last = schedule->LastAtOrBefore(TimeFromLocalSeconds(at));
    ASSERT_TRUE(expected && last) << line;
    EXPECT_EQ(LocalSeconds(*last), *expected) << line;
  }
  EXPECT_FALSE(Schedule::Parse("* * * * * * 2026 n", kYear)->LastAtOrBefore(At(2025, 12, 31)));
  EXPECT_EQ(Text(*Schedule::Parse("0 0 12 29 2 * * n", kYear)->LastAtOrBefore(At(2027, 6, 1))),
            "2024-02-29 12:00:00");
}

// Counting by arithmetic agrees with walking firing by firing.
TEST(MissedBetweenTest, AgreesWithFiringsBetween) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200; ++i) {
    std::string line = RandomField(rng, 1) + " " + RandomField(rng, 2) + " " + RandomField(rng, 3) +
                       (i % 2 ? " * * 1-5 * n" : " 1,15,31 * * * n");
    const auto schedule = Schedule::Parse(line, kYear);
    if (!schedule) continue;
    const std::int64_t first =
        LocalSeconds(At(2027, 1, 30)) + std::uniform_int_distribution(0, 86400 * 2)(rng);
    const std::int64_t last = first + std::uniform_int_distribution(0, 86400 * 3)(rng);
    const Schedule* list[] = {&*schedule};
    const auto walked = FiringsBetween(list, first, last, 1'000'000);
    const auto missed = MissedBetween(list, first, last);
    if (walked.empty()) {
      EXPECT_TRUE(missed.empty()) << line;
      continue;
    }
    ASSERT_EQ(missed.size(), 1u) << line;
    EXPECT_EQ(missed[0].count, static_cast<std::int64_t>(walked.size())) << line;
    EXPECT_EQ(missed[0].first, walked.front().second) << line;
    EXPECT_EQ(missed[0].last, walked.back().second) << line;
    ASSERT_EQ(missed[0].times.size(), std::min(walked.size(), kMissedTimesListed)) << line;
    for (std::size_t k = 0; k < missed[0].times.size(); ++k) {
      EXPECT_EQ(missed[0].times[k], walked[k].second) << line;
    }
  }
}

// A rare task is named beside a frequent one, whatever the frequent one
// does; a long span is counted, not walked; a gap's seconds are not missed.
TEST(MissedBetweenTest, EveryTaskIsNamedWithItsCount) {
  const auto every = *Schedule::Parse("* * * * * * * every", kYear);
  const auto hourly = *Schedule::Parse("0 0 * * * * * hourly", kYear);
  const auto daily = *Schedule::Parse("0 30 2 * * * * daily", kYear);
  const auto never = *Schedule::Parse("0 0 0 1 1 * * newyear", kYear);
  const Schedule* list[] = {&every, &hourly, &never, &daily};
  test::DstClock clock;
  const LocalZone zone(clock);
  struct Case {
    rt::SystemTime first;
    rt::SystemTime last;
    const LocalZone* zone;
    std::vector<std::pair<std::size_t, std::int64_t>> counts;  // index, count
  } cases[] = {
      // A two-hour sleep.
      {At(2026, 12, 6, 9), At(2026, 12, 6, 10, 59, 59), &zone, {{0, 7200}, {1, 2}}},
      // Two days.
      {At(2026, 12, 6), At(2026, 12, 7, 23, 59, 59), &zone, {{0, 172800}, {1, 48}, {3, 2}}},
      // Across the spring gap: 01:00-03:59 holds two real hours.
      {At(2026, 3, 29, 1), At(2026, 3, 29, 3, 59, 59), &zone, {{0, 7200}, {1, 2}, {3, 1}}},
      // The same span without a zone.
      {At(2026, 3, 29, 1), At(2026, 3, 29, 3, 59, 59), nullptr, {{0, 10800}, {1, 3}, {3, 1}}},
  };
  for (const auto& c : cases) {
    const auto missed = MissedBetween(list, LocalSeconds(c.first), LocalSeconds(c.last),
                                      c.zone ? *c.zone : LocalZone());
    std::vector<std::pair<std::size_t, std::int64_t>> counts;
    for (const auto& m : missed) counts.emplace_back(m.index, m.count);
    EXPECT_EQ(counts, c.counts) << Text(c.first);
  }
  const auto gap = MissedBetween(list, LocalSeconds(At(2026, 3, 29, 1)),
                                 LocalSeconds(At(2026, 3, 29, 3, 59, 59)), zone);
  EXPECT_EQ(Text(TimeFromLocalSeconds(gap[2].first)), "2026-03-29 03:00:00");  // daily, caught up
  EXPECT_EQ(Text(TimeFromLocalSeconds(gap[1].last)), "2026-03-29 03:00:00");   // no 02:00
  EXPECT_EQ(Text(TimeFromLocalSeconds(gap[0].times[0])), "2026-03-29 01:00:00");
}

TEST(ExplainRefusalTest, NamesTheFieldAndTheFault) {
  using K = Refusal::Kind;
  struct Case {
    int position;
    std::string field;
    K kind;
    std::string part;
    int low = 0, high = 0;
  };
  const Case cases[] = {
      {kMinuteField, "60", K::kOutOfRange, "60", 0, 59},
      {kDayField, "0", K::kOutOfRange, "0", 1, 31},
      {kYearField, "2025", K::kOutOfRange, "2025", kYear, kMaxYear},
      {kHourField, "08", K::kNotANumber, "08"},
      {kSecondField, "+5", K::kNotANumber, "+5"},
      {kSecondField, "5\t", K::kNotANumber, "5\t"},
      {kSecondField, "99999999999", K::kNotANumber, "99999999999"},
      {kHourField, "*/24", K::kStepOutOfRange, "24", 1, 23},
      {kSecondField, "*/0", K::kStepOutOfRange, "0", 1, 59},
      {kYearField, "*/2", K::kStepOutOfRange, "2", kYear, kMaxYear},
      {kDayOfWeekField, "6-2", K::kRangeNotAscending, "6-2"},
      {kSecondField, "5-5/2", K::kRangeNotAscending, "5-5"},
      {kSecondField, "3,1,3", K::kRepeated, "3"},
      {kYearField, "2027,30827,2027", K::kRepeated, "2027"},
      {kSecondField, "x-/5", K::kBadForm,
       "x-"},  // the base's one piece is "x"; the fault is told whole
      {kSecondField, "-/5", K::kBadForm, "-"},
      {kSecondField, "1-5,10", K::kBadForm, "5,10"},
      {kSecondField, "1,5-10", K::kBadForm, "1,5"},
      {kSecondField, "1,2/5", K::kBadForm, "1,2"},
      {kSecondField, "1/2/3", K::kBadForm, "1/2/3"},
      {kSecondField, "5/", K::kBadForm, "5/"},
      {kSecondField, "5,", K::kBadForm, "5,"},
      {kSecondField, ",5", K::kEmpty, ""},
      {kSecondField, "-5", K::kEmpty, ""},
      {kSecondField, "/5", K::kEmpty, ""},
      {kMinuteField, "5/15", K::kNoValue, "15"},
      {kMinuteField, "10-14/15", K::kNoValue, "15"},
  };
  for (const auto& c : cases) {
    const std::string line = LineWith(c.position, c.field);
    const auto r = ExplainRefusal(line, kYear);
    ASSERT_TRUE(r) << line;
    EXPECT_FALSE(Schedule::Parse(line, kYear)) << line;
    EXPECT_EQ(r->field, c.position) << line;
    EXPECT_EQ(r->text, c.field) << line;
    EXPECT_EQ(r->kind, c.kind) << line;
    EXPECT_EQ(r->part, c.part) << line;
    EXPECT_EQ(r->low, c.low) << line;
    EXPECT_EQ(r->high, c.high) << line;
  }
  // The line's shape, and a later field's fault reported before an earlier empty expansion.
  EXPECT_EQ(ExplainRefusal("1 2 3", kYear)->items, 3);
  EXPECT_EQ(ExplainRefusal(" * * * * * * * a", kYear)->kind, K::kItemCount);
  EXPECT_EQ(ExplainRefusal("* *  * * * * * a", kYear)->items, 9);
  EXPECT_EQ(ExplainRefusal("* *  * * * * a", kYear)->field, 3);
  EXPECT_EQ(ExplainRefusal("5/15 60 * * * * * a", kYear)->field, 2);
  EXPECT_FALSE(ExplainRefusal(kDefaultLine, kYear));
}

// Whatever the line, the explanation refuses exactly what Parse refuses.
TEST(ExplainRefusalTest, AgreesWithParseOnRandomLines) {
  std::mt19937 rng(11);
  const std::string pieces[] = {"*",  "/",  "-",    ",",    "0", "5", "15", "59",
                                "60", "08", "2026", "2025", "x", " ", "\t"};
  for (int i = 0; i < 20000; ++i) {
    std::string line;
    const int n = std::uniform_int_distribution(1, 24)(rng);
    for (int k = 0; k < n; ++k) {
      line += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(rng)];
    }
    // Mostly the right number of items, so that the fields get examined.
    if (i % 2) {
      line.clear();
      for (int p = 1; p <= kFieldCount; ++p) {
        std::string field;
        for (int k = std::uniform_int_distribution(1, 4)(rng); k > 0; --k) {
          field += pieces[std::uniform_int_distribution<std::size_t>(0, 12)(rng)];
        }
        line += field + " ";
      }
      line += "n";
    }
    EXPECT_EQ(ExplainRefusal(line, kYear).has_value(), !Schedule::Parse(line, kYear).has_value())
        << '"' << line << '"';
  }
}

// The calendar is the runtime's; the split of seconds into days is ours.
TEST(LocalSecondsTest, SplitIntoDaysEitherSideOfDayZero) {
  struct Case {
    std::int64_t seconds;
    const char* text;
    int dayOfWeek;
  };
  const Case cases[] = {
      {0, "1899-12-30 00:00:00", 6},
      {-1, "1899-12-29 23:59:59", 5},
      {-86400, "1899-12-29 00:00:00", 5},
      {-86401, "1899-12-28 23:59:59", 4},
      {86399, "1899-12-30 23:59:59", 6},
      {std::int64_t{46363} * 86400 + 8 * 3600 + 61, "2026-12-07 08:01:01", 1},
      {std::int64_t{10565736} * 86400 + 86399, "30827-12-31 23:59:59", 5},
  };
  for (const auto& c : cases) {
    const rt::SystemTime t = TimeFromLocalSeconds(c.seconds);
    EXPECT_EQ(Text(t), c.text) << c.seconds;
    EXPECT_EQ(t.dayOfWeek, c.dayOfWeek) << c.seconds;
    EXPECT_EQ(LocalSeconds(t), c.seconds) << c.text;
  }
}

TEST(ScheduleDeathTest, ExpandingForAnUnknownPositionIsARuntimeError) {
  EXPECT_EXIT(ExpandField("*/2", 8, kYear), ::testing::ExitedWithCode(1),
              "program internal error number is 9");
}

}  // namespace
}  // namespace cron
