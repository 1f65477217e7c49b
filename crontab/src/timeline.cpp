// Firing times against the local zone's gaps, backward searches and the
// per-task count of missed firings.
#include <algorithm>
#include <bit>

#include "crontab/schedule.h"

namespace cron {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kUnixEpoch = rt::kUnixEpochDay * kDay;  // 1970-01-01 on our scale
// Longer spans are not searched for gaps: a clock set decades ahead is not
// worth a call to the zone per day.
constexpr std::int64_t kMaxGapScanDays = 3700;

template <class Mask>
bool Has(Mask mask, int v) {
  return v >= 0 && v < static_cast<int>(sizeof(Mask) * 8) && ((mask >> v) & 1U) != 0;
}

// Set bits of mask below v.
template <class Mask>
std::int64_t CountBelow(Mask mask, int v) {
  if (v <= 0) return 0;
  if (v >= static_cast<int>(sizeof(Mask) * 8)) return std::popcount(mask);
  return std::popcount(static_cast<Mask>(mask & ((Mask{1} << v) - 1)));
}

// The largest set bit <= v, or -1.
int PrevBit(std::uint64_t mask, int v) {
  if (v < 0) return -1;
  if (v < 63) mask &= (std::uint64_t{2} << v) - 1;
  return mask == 0 ? -1 : 63 - std::countl_zero(mask);
}

std::int64_t DayOf(std::int64_t seconds) {
  return seconds >= 0 ? seconds / kDay : (seconds - kDay + 1) / kDay;
}

// Firing times of a day at or before the second of the day x (-1..86399).
std::int64_t TimesUpTo(const Fields& f, std::int64_t x) {
  if (x < 0) return 0;
  const int h = static_cast<int>(x / 3600);
  const int m = static_cast<int>(x / 60 % 60);
  const int s = static_cast<int>(x % 60);
  const std::int64_t perMinute = std::popcount(f.second);
  const std::int64_t perHour = std::popcount(f.minute) * perMinute;
  std::int64_t n = CountBelow(f.hour, h) * perHour;
  if (Has(f.hour, h)) {
    n += CountBelow(f.minute, m) * perMinute;
    if (Has(f.minute, m)) n += CountBelow(f.second, s + 1);
  }
  return n;
}

// The last firing time of a day at or before the second of the day x, or -1.
std::int64_t LastTimeOfDay(const Fields& f, std::int64_t x) {
  const int h0 = static_cast<int>(x / 3600);
  const int m0 = static_cast<int>(x / 60 % 60);
  for (int h = PrevBit(f.hour, h0); h != -1; h = PrevBit(f.hour, h - 1)) {
    for (int m = PrevBit(f.minute, h == h0 ? m0 : 59); m != -1; m = PrevBit(f.minute, m - 1)) {
      const int s = PrevBit(f.second, h == h0 && m == m0 ? static_cast<int>(x % 60) : 59);
      if (s != -1) return std::int64_t{h} * 3600 + m * 60 + s;
    }
  }
  return -1;
}

bool DayMatches(const Fields& f, const rt::SystemTime& t) {
  return f.year.Contains(t.year) && Has(f.month, t.month) && Has(f.day, t.day) &&
         Has(f.dayOfWeek, t.dayOfWeek);
}

// Matching days of a whole month whose first day falls on firstDow.
std::int64_t MonthDays(const Fields& f, int days, int firstDow) {
  std::int64_t n = 0;
  for (std::uint32_t bits = f.day & ((2u << days) - 2u); bits != 0; bits &= bits - 1) {
    const int d = std::countr_zero(bits);
    if (Has(f.dayOfWeek, (firstDow + d - 1) % 7)) ++n;
  }
  return n;
}

// Matching days among the day numbers a..b: whole months and whole
// left-out years at once, so the work grows with months, not seconds.
std::int64_t MatchingDays(const Fields& f, std::int64_t a, std::int64_t b) {
  std::int64_t n = 0;
  while (a <= b) {
    const rt::SystemTime t = TimeFromLocalSeconds(a * kDay);
    if (t.day == 1 && t.month == 1 && !f.year.Contains(t.year)) {
      const int next = f.year.NextFrom(t.year + 1);
      if (next == -1) break;
      a = DayOf(LocalSeconds({next, 1, 0, 1, 0, 0, 0, 0}));
      continue;
    }
    const int days = rt::DaysInMonth(t.year, t.month);
    if (t.day == 1 && a + days - 1 <= b) {
      if (f.year.Contains(t.year) && Has(f.month, t.month)) n += MonthDays(f, days, t.dayOfWeek);
      a += days;
      continue;
    }
    if (DayMatches(f, t)) ++n;
    ++a;
  }
  return n;
}

// Firings in the local seconds first..last, zone aside.
std::int64_t CountIn(const Fields& f, std::int64_t first, std::int64_t last) {
  if (last < first) return 0;
  const std::int64_t d0 = DayOf(first);
  const std::int64_t d1 = DayOf(last);
  const auto inDay = [&](std::int64_t day, std::int64_t from, std::int64_t to) -> std::int64_t {
    if (!DayMatches(f, TimeFromLocalSeconds(day * kDay))) return 0;
    return TimesUpTo(f, to) - TimesUpTo(f, from - 1);
  };
  if (d0 == d1) return inDay(d0, first - d0 * kDay, last - d1 * kDay);
  return inDay(d0, first - d0 * kDay, kDay - 1) + inDay(d1, 0, last - d1 * kDay) +
         MatchingDays(f, d0 + 1, d1 - 1) * TimesUpTo(f, kDay - 1);
}

// The first instant in (lo, hi] whose offset is not `before`.
std::int64_t ChangeAfter(const LocalZone& zone, std::int64_t lo, std::int64_t hi,
                         std::int32_t before) {
  while (hi - lo > 1) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (zone.OffsetAt(mid) == before) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return hi;
}

// The last firing at or before `last` and not before `first`, in the zone.
std::optional<std::int64_t> LastIn(const Schedule& s, std::int64_t first, std::int64_t last,
                                   const LocalZone& zone) {
  std::int64_t limit = last;
  for (int guard = 0; guard < 64; ++guard) {
    const auto t = s.LastAtOrBefore(TimeFromLocalSeconds(limit));
    if (!t) break;
    const std::int64_t at = LocalSeconds(*t);
    if (at < first) break;
    const auto gap = zone.GapAt(at);
    if (!gap) return at;
    if (s.CatchesUpGaps() && gap->last + 1 <= last) return gap->last + 1;
    limit = gap->first - 1;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> LocalZone::OffsetAt(std::int64_t instant) const {
  if (!clock_) return std::nullopt;
  return clock_->UtcOffsetAt(instant - kUnixEpoch);
}

std::optional<LocalGap> LocalZone::GapAt(std::int64_t local) const {
  // Offsets stay within a day of UTC: these instants lie before and after
  // the local second's own.
  if (!clock_ || (local - kDay >= steadyFrom_ && local + kDay <= steadyTo_)) return std::nullopt;
  const auto before = OffsetAt(local - kDay);
  const auto after = OffsetAt(local + kDay);
  if (before && before == after) {
    // Days ahead that keep the offset too: a search going forward asks the
    // zone again a month later.
    std::int64_t to = local + kDay;
    for (int i = 0; i < 30 && OffsetAt(to + kDay) == before; ++i) to += kDay;
    steadyFrom_ = local - kDay;
    steadyTo_ = to;
    return std::nullopt;
  }
  if (!before || !after || *after <= *before) return std::nullopt;
  if (OffsetAt(local - *before) == *before || OffsetAt(local - *after) == *after) {
    return std::nullopt;
  }
  const std::int64_t change = ChangeAfter(*this, local - *after, local - *before, *before);
  return LocalGap{change + *before, change + *after - 1};
}

std::vector<LocalGap> LocalZone::GapsBetween(std::int64_t first, std::int64_t last) const {
  std::vector<LocalGap> gaps;
  if (!clock_ || last < first || (last - first) / kDay > kMaxGapScanDays) return gaps;
  std::int64_t at = first - kDay;
  std::optional<std::int32_t> offset = OffsetAt(at);
  while (at < last + kDay) {
    const std::int64_t next = std::min(at + kDay, last + kDay);
    const auto nextOffset = OffsetAt(next);
    if (offset && nextOffset && *nextOffset > *offset) {
      const std::int64_t change = ChangeAfter(*this, at, next, *offset);
      const LocalGap gap{change + *offset, change + *nextOffset - 1};
      if (gap.last >= first && gap.first <= last) gaps.push_back(gap);
    }
    offset = nextOffset;
    at = next;
  }
  return gaps;
}

std::optional<rt::SystemTime> Schedule::NextAfter(const rt::SystemTime& from,
                                                  const LocalZone& zone) const {
  rt::SystemTime at = from;
  // Each turn passes one gap; gaps are months apart.
  for (int guard = 0; guard < 64; ++guard) {
    const auto next = NextAfter(at);
    if (!next) return std::nullopt;
    const auto gap = zone.GapAt(LocalSeconds(*next));
    if (!gap) return next;
    if (CatchesUpGaps()) return TimeFromLocalSeconds(gap->last + 1);
    at = TimeFromLocalSeconds(gap->last);
  }
  return std::nullopt;
}

std::vector<rt::SystemTime> Schedule::NextFirings(const rt::SystemTime& from, int count,
                                                  const LocalZone& zone) const {
  std::vector<rt::SystemTime> out;
  rt::SystemTime at = from;
  while (static_cast<int>(out.size()) < count) {
    const auto next = NextAfter(at, zone);
    if (!next) break;
    out.push_back(*next);
    at = *next;
  }
  return out;
}

std::optional<rt::SystemTime> Schedule::LastAtOrBefore(const rt::SystemTime& at) const {
  const rt::SystemTime start = TimeFromLocalSeconds(LocalSeconds(at));
  const Fields& f = fields_;
  // With every year allowed the calendar repeats after 400 years.
  const int firstYear = f.year.any ? std::max(1, start.year - 400) : 1;
  for (int year = f.year.PrevFrom(start.year); year != -1 && year >= firstYear;
       year = f.year.PrevFrom(year - 1)) {
    const bool startYear = year == start.year;
    for (int month = PrevBit(f.month, startYear ? start.month : 12); month > 0;
         month = PrevBit(f.month, month - 1)) {
      const bool startMonth = startYear && month == start.month;
      const int days = rt::DaysInMonth(year, month);
      for (int day = PrevBit(f.day, startMonth ? start.day : days); day > 0;
           day = PrevBit(f.day, day - 1)) {
        const std::int64_t midnight = LocalSeconds({year, month, 0, day, 0, 0, 0, 0});
        if (!Has(f.dayOfWeek, TimeFromLocalSeconds(midnight).dayOfWeek)) continue;
        const bool startDay = startMonth && day == start.day;
        const std::int64_t time = LastTimeOfDay(
            f, startDay ? std::int64_t{start.hour} * 3600 + start.minute * 60 + start.second
                        : kDay - 1);
        if (time >= 0) return TimeFromLocalSeconds(midnight + time);
      }
    }
  }
  return std::nullopt;
}

std::int64_t FiringsIn(const Schedule& s, std::int64_t first, std::int64_t last,
                       std::span<const LocalGap> gaps) {
  std::int64_t count = CountIn(s.fields(), first, last);
  for (const LocalGap& gap : gaps) {
    count -= CountIn(s.fields(), std::max(gap.first, first), std::min(gap.last, last));
    const std::int64_t end = gap.last + 1;
    if (s.CatchesUpGaps() && end >= first && end <= last &&
        CountIn(s.fields(), gap.first, gap.last) > 0 && !s.Matches(TimeFromLocalSeconds(end))) {
      ++count;
    }
  }
  return count;
}

std::vector<MissedTask> MissedBetween(std::span<const Schedule* const> schedules,
                                      std::int64_t first, std::int64_t last,
                                      const LocalZone& zone) {
  std::vector<MissedTask> out;
  if (last < first) return out;
  const std::vector<LocalGap> gaps = zone.GapsBetween(first, last);
  for (std::size_t i = 0; i < schedules.size(); ++i) {
    const Schedule* s = schedules[i];
    if (!s) continue;
    const std::int64_t count = FiringsIn(*s, first, last, gaps);
    if (count <= 0) continue;
    MissedTask missed;
    missed.index = i;
    missed.count = count;
    rt::SystemTime at = TimeFromLocalSeconds(first - 1);
    while (missed.times.size() < kMissedTimesListed) {
      const auto next = s->NextAfter(at, zone);
      if (!next || LocalSeconds(*next) > last) break;
      missed.times.push_back(LocalSeconds(*next));
      at = *next;
    }
    if (missed.times.empty()) continue;
    missed.first = missed.times.front();
    missed.last = std::max(LastIn(*s, first, last, zone).value_or(0), missed.times.back());
    out.push_back(std::move(missed));
  }
  return out;
}

}  // namespace cron
