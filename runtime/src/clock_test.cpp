#include "runtime/clock.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rt {
namespace {

TEST(Clock, DateTimeValues) {
  EXPECT_EQ(MakeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(MakeDateTime(1900, 1, 1), 2.0);
  EXPECT_EQ(MakeDateTime(1970, 1, 1), 25569.0);
  EXPECT_EQ(MakeDateTime(100, 1, 1), -657434.0);
  EXPECT_DOUBLE_EQ(MakeDateTime(1899, 12, 29, 6), -1.25);
  EXPECT_DOUBLE_EQ(MakeDateTime(2026, 12, 6, 9, 1, 1), 46362.0 + (9 * 3600 + 61) / 86400.0);
}

TEST(Clock, SystemTimeRoundTrip) {
  for (const SystemTime& st :
       {SystemTime{2026, 12, 0, 6, 9, 1, 1, 0}, SystemTime{1899, 12, 5, 29, 6, 0, 0, 0},
        SystemTime{2024, 2, 4, 29, 23, 59, 59, 0}, SystemTime{100, 1, 5, 1, 0, 0, 0, 0},
        SystemTime{9999, 12, 5, 31, 23, 59, 59, 0}}) {
    const auto back = SystemTimeFromDateTime(DateTimeFromSystemTime(st));
    ASSERT_TRUE(back.has_value()) << st.year;
    EXPECT_EQ(*back, st) << st.year << "-" << st.month << "-" << st.day;
  }
}

TEST(Clock, OutOfRangeAndRounding) {
  EXPECT_FALSE(SystemTimeFromDateTime(-657435.0));
  EXPECT_FALSE(SystemTimeFromDateTime(2958466.0));
  // Half a second before midnight rounds into the next day.
  const auto st = SystemTimeFromDateTime(MakeDateTime(2026, 12, 31, 23, 59, 59) + 0.6 / 86400);
  ASSERT_TRUE(st);
  EXPECT_EQ(st->year, 2027);
  EXPECT_EQ(st->hour, 0);
}

TEST(Clock, LeapYears) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2026));
  EXPECT_EQ(DaysInMonth(2026, 2), 28);
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(2026, 13), 0);
}

TEST(Calendar, KnownDayNumbers) {
  struct Case {
    int year, month, day;
    std::int64_t days;
    int dayOfWeek;
  };
  const Case cases[] = {
      {1, 1, 1, -693593, 1},      {100, 1, 1, -657434, 5},      {1600, 2, 29, -109512, 2},
      {1899, 12, 30, 0, 6},       {1899, 12, 31, 1, 0},         {1900, 1, 1, 2, 1},
      {1900, 3, 1, 61, 4},        {1970, 1, 1, 25569, 4},       {2000, 2, 29, 36585, 2},
      {2000, 3, 1, 36586, 3},     {2026, 12, 7, 46363, 1},      {2100, 3, 1, 73110, 1},
      {9999, 12, 31, 2958465, 5}, {30827, 12, 31, 10565736, 5},
  };
  for (const auto& c : cases) {
    const CivilDate date{c.year, c.month, c.day};
    EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month;
    EXPECT_EQ(CivilFromDays(c.days), date) << c.days;
    EXPECT_EQ(DayOfWeek(c.days), c.dayOfWeek) << c.days;
  }
  EXPECT_EQ(kUnixEpochDay, 25569);
  EXPECT_EQ(kMinimumDate, MakeDateTime(100, 1, 1));
}

// Consecutive dates get consecutive day numbers and come back whole, across
// leap days, century years and the 400-year cycle, before and after day 0.
TEST(Calendar, DayNumbersFollowTheDates) {
  for (const int first : {-401, 1, 1596, 1896, 2096, 9996, 30796}) {
    std::int64_t expected = DaysFromCivil(first, 1, 1);
    for (int year = first; year < first + 12; ++year) {
      for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= DaysInMonth(year, month); ++day, ++expected) {
          ASSERT_EQ(DaysFromCivil(year, month, day), expected)
              << year << "-" << month << "-" << day;
          ASSERT_EQ(CivilFromDays(expected), (CivilDate{year, month, day})) << expected;
        }
      }
    }
  }
}

TEST(Clock, NowLocalIsWholeSeconds) {
  const DateTime now = NowLocal();
  const double seconds = now * 86400;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
  EXPECT_GT(now, MakeDateTime(2020, 1, 1));
}

}  // namespace
}  // namespace rt
