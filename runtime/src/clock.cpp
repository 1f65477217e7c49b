#include "runtime/clock.h"

#include <cmath>

namespace rt {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = y - era * 400;
  const auto doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const auto doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = z - era * 146097;
  const auto yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const auto doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const auto mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr std::int64_t kEpochOffset = 25569;  // 1970-01-01 counted from 1899-12-30
constexpr double kMinDateTime = -657434.0;    // 0100-01-01
constexpr double kMaxDateTime = 2958466.0;    // 10000-01-01

}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const auto days = static_cast<double>(DaysFromCivil(year, month, day) + kEpochOffset);
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the whole part counts days and the fraction still adds time.
  return days < 0 ? days - fraction : days + fraction;
}

DateTime DateTimeFromSystemTime(const SystemTime& st) {
  return MakeDateTime(st.year, st.month, st.day, st.hour, st.minute, st.second);
}

std::optional<SystemTime> SystemTimeFromDateTime(DateTime dt) {
  if (!(dt >= kMinDateTime && dt < kMaxDateTime)) return std::nullopt;
  const double whole = std::trunc(dt);
  auto days = static_cast<std::int64_t>(whole);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(dt - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  SystemTime st;
  CivilFromDays(days - kEpochOffset, st.year, st.month, st.day);
  if (st.year > 9999) return std::nullopt;
  st.dayOfWeek = static_cast<int>(((days + 6) % 7 + 7) % 7);  // 1899-12-30 was a Saturday
  st.hour = static_cast<int>(seconds / 3600);
  st.minute = static_cast<int>(seconds % 3600 / 60);
  st.second = static_cast<int>(seconds % 60);
  return st;
}

DateTime NowLocal() {
  return NowLocal(SystemClock());
}

}  // namespace rt
