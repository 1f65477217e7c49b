#include "runtime/clock.h"

#include <cmath>

namespace rt {
namespace {

constexpr DateTime kMaxDateTime = static_cast<DateTime>(DaysFromCivil(10000, 1, 1));

}  // namespace

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const auto days = static_cast<double>(DaysFromCivil(year, month, day));
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the whole part counts days and the fraction still adds time.
  return days < 0 ? days - fraction : days + fraction;
}

DateTime DateTimeFromSystemTime(const SystemTime& st) {
  return MakeDateTime(st.year, st.month, st.day, st.hour, st.minute, st.second);
}

std::optional<SystemTime> SystemTimeFromDateTime(DateTime dt) {
  if (!(dt >= kMinimumDate && dt < kMaxDateTime)) return std::nullopt;
  const double whole = std::trunc(dt);
  auto days = static_cast<std::int64_t>(whole);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(dt - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  const CivilDate date = CivilFromDays(days);
  if (date.year > 9999) return std::nullopt;
  SystemTime st;
  st.year = date.year;
  st.month = date.month;
  st.day = date.day;
  st.dayOfWeek = DayOfWeek(days);
  st.hour = static_cast<int>(seconds / 3600);
  st.minute = static_cast<int>(seconds % 3600 / 60);
  st.second = static_cast<int>(seconds % 60);
  return st;
}

DateTime NowLocal() {
  return NowLocal(SystemClock());
}

}  // namespace rt
