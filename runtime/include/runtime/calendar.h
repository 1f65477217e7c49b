// Calendar arithmetic in the proleptic Gregorian calendar, for any year.
// Day numbers count from 1899-12-30, day 0 of a DateTime, so that a day
// number is a DateTime's whole part. Everything here is constexpr and pure:
// any thread.
#pragma once

#include <cstdint>

namespace rt {

constexpr bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// 0 for a month outside 1..12.
constexpr int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

struct CivilDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

namespace calendar_detail {
// Day 0 of the March-based count below is 0000-03-01; 1899-12-30 is this many
// days later.
inline constexpr std::int64_t kDayZero = 719468 - 25569;
inline constexpr std::int64_t kDaysPer400Years = 146097;
}  // namespace calendar_detail

// The day number of a date (fields are not checked: a month or day outside
// its range gives a number all the same, not a fault).
constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  using namespace calendar_detail;
  // Years begin in March here, so that the leap day ends one.
  const std::int64_t y = year - (month <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * kDaysPer400Years + doe - kDayZero;
}

// The date of a day number; the year must fit an int.
constexpr CivilDate CivilFromDays(std::int64_t days) {
  using namespace calendar_detail;
  const std::int64_t z = days + kDayZero;
  const std::int64_t era = (z >= 0 ? z : z - (kDaysPer400Years - 1)) / kDaysPer400Years;
  const std::int64_t doe = z - era * kDaysPer400Years;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  CivilDate date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2));
  return date;
}

// The weekday of a day number, 0 = Sunday, for negative numbers too.
constexpr int DayOfWeek(std::int64_t days) {
  return static_cast<int>(((days + 6) % 7 + 7) % 7);  // 1899-12-30 was a Saturday
}

// 1970-01-01, where Unix time counts from.
inline constexpr std::int64_t kUnixEpochDay = DaysFromCivil(1970, 1, 1);

}  // namespace rt
