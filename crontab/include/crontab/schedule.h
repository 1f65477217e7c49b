// Schedule lines: validation, expansion, matching and the search for the
// next firing times. The scheduler's tick uses exactly these routines.
//
// A line is seven time fields (second, minute, hour, day of month, month,
// day of week, year) and a task name, separated by single spaces. Texts are
// code page 936 bytes. The routines are pure and any thread may call them;
// a LocalZone is the one thing not to share between threads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/clock.h"

struct crontab_handle;  // crontab/crontab.h

namespace cron {

inline constexpr int kFieldCount = 7;
inline constexpr int kMaxYear = 30827;

// Field positions, 1-based as in the line.
enum FieldPosition : int {
  kSecondField = 1,
  kMinuteField,
  kHourField,
  kDayField,
  kMonthField,
  kDayOfWeekField,
  kYearField,
};

// Years a year field lets through: everything, one arithmetic progression
// (a range or a step), or listed values. Years are too many for a bit set.
struct YearSet {
  bool any = true;
  int first = 0;  // progression first..last by step; empty when last < first
  int last = -1;
  int step = 1;
  std::vector<int> listed;  // sorted

  bool Contains(int year) const;
  // The smallest year >= from in the set, or -1 (none up to kMaxYear).
  int NextFrom(int from) const;
  // The largest year <= from in the set, or -1 (none from the year 1).
  int PrevFrom(int from) const;
  friend bool operator==(const YearSet&, const YearSet&) = default;
};

// The compiled form of a line's seven fields: bit v of a mask is set when
// the value v matches ("*" sets every valid value).
struct Fields {
  std::uint64_t second = 0;
  std::uint64_t minute = 0;
  std::uint32_t hour = 0;
  std::uint32_t day = 0;
  std::uint16_t month = 0;
  std::uint8_t dayOfWeek = 0;
  YearSet year;
  friend bool operator==(const Fields&, const Fields&) = default;
};

// True when every field matches the time (dayOfWeek taken from the record,
// milliseconds ignored). Day of month and day of week must both match.
bool TaskMatchesTime(const Fields& fields, const rt::SystemTime& time);

// One number of a field (isStep: the part after "/"): a plain decimal
// without sign or leading zeros, inside the position's valid values.
// currentYear bounds the year field's values and steps from below. False
// also for a position outside 1..7.
bool ValidateFieldValue(std::string_view text, int position, bool isStep, int currentYear);

// Whole-field check: "*", base/step, x-y, a list, or a single number. False
// also for a position outside 1..7.
bool ValidateField(std::string_view text, int position, int currentYear);

// The expanded field of a valid field text: "*", or ":v1:v2:...:" in the
// order expansion produces the values; "" when it produces none or the text
// is not valid. A position outside 1..7 is the caller's fault: a fatal
// library error ends the process.
std::string ExpandField(std::string_view text, int position, int currentYear);

// ":x:x+1:...:y:" for a text "x-y" of plain decimals (":x:" for "x-x"); ""
// when y < x or the text is not x-y.
std::string ExpandRange(std::string_view text);

// Local seconds that do not exist: a daylight-saving change (spring forward)
// skipped them.
struct LocalGap {
  std::int64_t first = 0;  // LocalSeconds
  std::int64_t last = 0;
  friend bool operator==(const LocalGap&, const LocalGap&) = default;
};

// The local time zone as a clock knows it. Instants are seconds since
// 1899-12-30 00:00:00 UTC, on the scale of LocalSeconds: local = instant +
// offset. Without a zone (a default LocalZone, or a clock that knows none)
// every local second exists once. It remembers the span it last found
// steady, so keep one to a thread. It keeps the clock by reference: the
// clock must outlive it.
class LocalZone {
 public:
  LocalZone() = default;
  explicit LocalZone(rt::Clock& clock) : clock_(&clock) {}

  // Seconds east of UTC at an instant; nullopt without a zone.
  std::optional<std::int32_t> OffsetAt(std::int64_t instant) const;
  // The gap holding a local second, or nullopt when it exists.
  std::optional<LocalGap> GapAt(std::int64_t local) const;
  // The gaps that meet first..last, in order. Changes are looked for a day
  // apart, so two within a day are not seen (no zone has them). A span of
  // more than 3700 days is not searched: none.
  std::vector<LocalGap> GapsBetween(std::int64_t first, std::int64_t last) const;

 private:
  rt::Clock* clock_ = nullptr;
  // Instants steadyFrom_..steadyTo_ were found to share one offset (from
  // checks a day apart): a search second by second asks the zone once a month.
  mutable std::int64_t steadyFrom_ = 0;
  mutable std::int64_t steadyTo_ = -1;
};

// A line that passed validation and expansion; a plain value.
class Schedule {
 public:
  // nullopt when the line is refused; why (when given) receives the reason
  // in plain ASCII. currentYear is the year field's lowest value.
  static std::optional<Schedule> Parse(std::string_view line, int currentYear,
                                       std::string* why = nullptr);

  std::string_view line() const { return std::string_view(text_).substr(0, lineLength_); }
  std::string_view name() const { return std::string_view(text_).substr(nameOffset_); }
  // The name, zero-terminated; valid while this Schedule lives unchanged.
  const char* nameText() const { return text_.c_str() + nameOffset_; }
  const Fields& fields() const { return fields_; }
  int currentYear() const { return currentYear_; }

  bool Matches(const rt::SystemTime& time) const { return TaskMatchesTime(fields_, time); }

  // The first whole second strictly after `from` at which the line fires,
  // or nullopt when it never fires again (up to the year 30827). from's
  // dayOfWeek and milliseconds are not read. The search steps through
  // matching days, not seconds.
  std::optional<rt::SystemTime> NextAfter(const rt::SystemTime& from) const;
  // Up to count firing times after `from`, ascending (none for count < 1).
  std::vector<rt::SystemTime> NextFirings(const rt::SystemTime& from, int count) const;
  // The same in a zone: a time in a daylight-saving gap does not exist; a
  // task that CatchesUpGaps fires once at the gap's end instead, the others
  // go on with their next existing time.
  std::optional<rt::SystemTime> NextAfter(const rt::SystemTime& from, const LocalZone& zone) const;
  std::vector<rt::SystemTime> NextFirings(const rt::SystemTime& from, int count,
                                          const LocalZone& zone) const;
  // The last whole second at or before `at` at which the line fires (no
  // zone); nullopt when it never did.
  std::optional<rt::SystemTime> LastAtOrBefore(const rt::SystemTime& at) const;
  // A task bound to certain hours (not every hour) would lose its day's
  // firing to a gap, so it fires once right after it; a task of every hour
  // fires again within the hour anyway.
  bool CatchesUpGaps() const { return fields_.hour != 0xFFFFFFu; }

 private:
  // Kept small, a scheduler holds one per task: the line, and the name only
  // when it is not the line's end (a line ending in a space), after a zero.
  std::string text_;
  std::uint32_t lineLength_ = 0;
  std::uint32_t nameOffset_ = 0;
  int currentYear_ = 0;
  Fields fields_;
};

// Why a line is refused, for the people who write schedule files.
struct Refusal {
  enum class Kind {
    kItemCount,          // not seven fields and a name; `items` holds the count
    kEmpty,              // the field, or a number inside it, is empty
    kNotANumber,         // `part` is not a plain decimal (sign, leading zero, other bytes)
    kOutOfRange,         // the value `part` lies outside low..high
    kStepOutOfRange,     // the step `part` lies outside low..high
    kRangeNotAscending,  // in the range `part`, the second number is not above the first
    kRepeated,           // a list names the value `part` twice
    kBadForm,            // forms mixed or misplaced (a/b/c, 1-5,10, a list before "/")
    kNoValue,            // the step `part` has no multiple inside its base: never fires
  };
  Kind kind = Kind::kBadForm;
  int field = 0;     // 1..7; 0 for kItemCount
  std::string text;  // the whole field
  std::string part;  // the piece at fault
  int low = 0;
  int high = 0;
  int items = 0;
  friend bool operator==(const Refusal&, const Refusal&) = default;
};

// nullopt when Schedule::Parse accepts the line; otherwise the fault that
// makes Parse refuse it (the first, in Parse's order).
std::optional<Refusal> ExplainRefusal(std::string_view line, int currentYear);

// How many times a task missed in a span, and when.
struct MissedTask {
  std::size_t index = 0;   // the schedule's position in the list
  std::int64_t count = 0;  // firings in the span, 1 or more
  std::int64_t first = 0;  // LocalSeconds of the first and the last
  std::int64_t last = 0;
  std::vector<std::int64_t> times;  // the first few, at most kMissedTimesListed
  friend bool operator==(const MissedTask&, const MissedTask&) = default;
};
inline constexpr std::size_t kMissedTimesListed = 5;

// How often the schedule fires in the local seconds first..last (both
// included), counted by calendar arithmetic; `gaps` (the zone's, from
// LocalZone::GapsBetween) count as the scheduler's tick treats them.
std::int64_t FiringsIn(const Schedule& schedule, std::int64_t first, std::int64_t last,
                       std::span<const LocalGap> gaps = {});

// Per schedule with at least one firing in the seconds first..last (both
// included): the count, the first and last time and the first few, in list
// order; null entries are skipped. Counted by calendar arithmetic, not
// firing by firing: a two-day span of an every-second task costs what a
// minute's does. Times in the zone's gaps count as the scheduler's tick
// treats them.
std::vector<MissedTask> MissedBetween(std::span<const Schedule* const> schedules,
                                      std::int64_t first, std::int64_t last,
                                      const LocalZone& zone = LocalZone());

// One firing among several schedules: its second (LocalSeconds) and the
// schedule's position in the list.
struct Firing {
  std::int64_t second = 0;
  std::size_t index = 0;
  friend bool operator==(const Firing&, const Firing&) = default;
};

// The firings of the schedules in the seconds first..last (both included),
// in time order and, within a second, in list order: at most maxCount of
// them; *more (when given) tells whether some were left out. Null entries
// are skipped; no zone: every local second exists. It costs one NextAfter
// per schedule and per firing returned, so maxCount bounds the work.
std::vector<Firing> FiringsBetween(std::span<const Schedule* const> schedules, std::int64_t first,
                                   std::int64_t last, std::size_t maxCount, bool* more = nullptr);

// Copies of the schedules of a scheduler's tasks, in list order, as the
// scheduler parsed them (with the year of their Add or Replace); none for
// a null or empty handle. Safe beside a running scheduler and other calls on
// the handle, as crontab_Tasks is: not beside crontab_Intialize, crontab_Copy
// or crontab_Destroy on it.
std::vector<Schedule> SchedulesInForce(const crontab_handle* handle);

// Seconds since 1899-12-30 00:00:00 of a local calendar time, and back (the
// record's dayOfWeek is computed; milliseconds are 0).
std::int64_t LocalSeconds(const rt::SystemTime& time);
rt::SystemTime TimeFromLocalSeconds(std::int64_t seconds);

}  // namespace cron
