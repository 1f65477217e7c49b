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

TEST(Clock, NowLocalIsWholeSeconds) {
  const DateTime now = NowLocal();
  const double seconds = now * 86400;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
  EXPECT_GT(now, MakeDateTime(2020, 1, 1));
}

}  // namespace
}  // namespace rt
