// Local date-times and the clock. The conversions are pure and the system
// clock may be read from any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/calendar.h"

namespace rt {

// Days since 1899-12-30, the fraction giving the time of day; local time.
using DateTime = double;

// 0100-01-01 00:00:00, the first date-time with a calendar record.
inline constexpr DateTime kMinimumDate = static_cast<DateTime>(DaysFromCivil(100, 1, 1));

// Calendar record of a local time (field meanings as the platform's).
struct SystemTime {
  int year = 0;
  int month = 0;      // 1..12
  int dayOfWeek = 0;  // 0 = Sunday
  int day = 0;        // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// The date-time of a calendar date and time of day (fields are not checked).
// Before 1899-12-30 the whole part counts days back and the fraction still
// adds time: 1899-12-29 06:00 is -1.25.
DateTime MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
DateTime DateTimeFromSystemTime(const SystemTime& st);  // dayOfWeek, milliseconds not read

// The calendar record of a date-time, rounded to the nearest second (its
// dayOfWeek computed, milliseconds 0); nullopt outside the years 100 to 9999.
std::optional<SystemTime> SystemTimeFromDateTime(DateTime dt);

// A local time with its offset from UTC, read at one instant.
struct ZonedTime {
  SystemTime local;
  std::optional<std::int32_t> utcOffsetSeconds;  // east of UTC; nullopt: no zone known
};

// Source of the local time, injectable for tests. Schedulers read their
// clock from timer threads as well as from their callers', so an
// implementation must be safe on any thread (SystemClock's is).
class Clock {
 public:
  virtual ~Clock() = default;
  // The local time now, milliseconds included.
  virtual SystemTime LocalTime() = 0;
  // The local time and its offset at one instant, so that a daylight-saving
  // change can be told from a clock that was set. A clock that knows no zone
  // (a test's) gives no offset: its local time is then taken as steady.
  virtual ZonedTime ZonedLocalTime() { return {LocalTime(), std::nullopt}; }
  // The zone's offset from UTC at an instant (seconds since 1970-01-01 UTC),
  // by its rules, not by the clock's reading; nullopt: no zone known.
  virtual std::optional<std::int32_t> UtcOffsetAt(std::int64_t /*unixSeconds*/) {
    return std::nullopt;
  }
};

// The machine's clock: one for the process, never to be deleted; any thread.
Clock& SystemClock();

// Milliseconds from an unspecified start, never going back (unlike the
// local time, which a clock correction moves): for deadlines. Any thread.
std::int64_t MonotonicMilliseconds();

// The current local time in whole seconds (milliseconds dropped).
DateTime NowLocal();
inline DateTime NowLocal(Clock& clock) {
  return DateTimeFromSystemTime(clock.LocalTime());
}

}  // namespace rt
