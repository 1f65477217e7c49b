#include "crontab/schedule.h"

#include <algorithm>
#include <bit>
#include <charconv>

#include "library.h"
#include "runtime/text.h"

namespace cron {
namespace {

struct Bounds {
  int low;
  int high;
};

// Values of the position, the range a "*" base stands for.
Bounds FullRange(int position, int currentYear) {
  static constexpr Bounds kRanges[] = {{0, 59}, {0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 6}};
  if (position < 1 || position > kFieldCount) RaiseLibraryError(9, kSiteFullRange);
  if (position == kYearField) return {currentYear, kMaxYear};
  return kRanges[position - 1];
}

// A plain decimal: digits only, no leading zero, at most 2^31 - 1.
std::optional<int> ReadNumber(std::string_view text) {
  if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 0x7fffffff) return std::nullopt;
  return static_cast<int>(value);
}

// Calls f on each piece of t between single-byte separators and returns
// their number, cutting as rt::SplitText does (a separator never matches as
// the second byte of a double-byte character; an empty last piece is
// dropped) but without copies; f returning false stops the calls, not the
// count.
template <class F>
std::size_t ForEachPiece(std::string_view t, char separator, F&& f) {
  std::size_t count = 0;
  bool calling = true;
  std::size_t start = 0;
  for (std::size_t i = 0; i < t.size(); i += rt::CharLength(t, i)) {
    if (t[i] != separator) continue;
    ++count;
    if (calling) calling = f(t.substr(start, i - start));
    start = i + 1;
  }
  if (start < t.size()) {
    ++count;
    if (calling) f(t.substr(start));
  }
  return count;
}

// The first pieces (up to N) and the number of all of them.
template <std::size_t N>
struct Pieces {
  std::array<std::string_view, N> items{};
  std::size_t count = 0;
};

template <std::size_t N>
Pieces<N> Split(std::string_view t, char separator) {
  Pieces<N> pieces;
  std::size_t kept = 0;
  pieces.count = ForEachPiece(t, separator, [&](std::string_view piece) {
    pieces.items[kept++] = piece;
    return kept < N;
  });
  return pieces;
}

// Values first, first + step, ... up to last.
struct Progression {
  int first;
  int last;
  int step;
};

struct ParsedField {
  bool any = false;
  std::vector<Progression> parts;  // in the order expansion produces them; none: empty
};

// Validation and expansion of one field in one pass; nullopt when invalid.
// The form is the first that applies: "*", base/step, x-y, list, number.
std::optional<ParsedField> ParseField(std::string_view text, int position, int currentYear) {
  auto number = [&](std::string_view t, bool isStep) -> std::optional<int> {
    if (!ValidateFieldValue(t, position, isStep, currentYear)) return std::nullopt;
    return ReadNumber(t);
  };
  ParsedField field;
  if (text == "*") {
    field.any = true;
    return field;
  }
  const auto stepParts = Split<2>(text, '/');
  if (stepParts.count == 2) {
    const auto step = number(stepParts.items[1], true);
    if (!step) return std::nullopt;
    Bounds base{};
    if (stepParts.items[0] == "*") {
      base = FullRange(position, currentYear);
    } else {
      const auto baseParts = Split<2>(stepParts.items[0], '-');
      if (baseParts.count == 2) {
        const auto low = number(baseParts.items[0], false);
        const auto high = number(baseParts.items[1], false);
        if (!low || !high || *high <= *low) return std::nullopt;
        base = {*low, *high};
      } else if (baseParts.count == 1) {
        const auto value = number(baseParts.items[0], false);
        if (!value) return std::nullopt;
        base = {*value, *value};
      } else {
        return std::nullopt;
      }
    }
    // A step keeps the multiples of the step inside the base.
    const int first = (base.low + *step - 1) / *step * *step;
    if (first <= base.high) {
      field.parts.push_back({first, base.high - (base.high - first) % *step, *step});
    }
    return field;
  }
  const auto rangeParts = Split<2>(text, '-');
  if (rangeParts.count == 2) {
    const auto low = number(rangeParts.items[0], false);
    const auto high = number(rangeParts.items[1], false);
    if (!low || !high || *high <= *low) return std::nullopt;
    field.parts.push_back({*low, *high, 1});
    return field;
  }
  if (Split<1>(text, ',').count >= 2) {
    std::vector<int> sorted;
    bool valid = true;
    ForEachPiece(text, ',', [&](std::string_view part) {
      const auto value = number(part, false);
      if (!value) return valid = false;
      field.parts.push_back({*value, *value, 1});
      sorted.push_back(*value);
      return true;
    });
    if (!valid) return std::nullopt;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return std::nullopt;
    return field;
  }
  const auto value = number(text, false);
  if (!value) return std::nullopt;
  field.parts.push_back({*value, *value, 1});
  return field;
}

void AppendNumber(std::string& out, int value) {
  char buffer[12];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

std::string FieldText(const ParsedField& field) {
  if (field.any) return "*";
  std::string out;
  for (const auto& part : field.parts) {
    for (int v = part.first; v <= part.last; v += part.step) {
      out += ':';
      AppendNumber(out, v);
    }
  }
  if (!out.empty()) out += ':';
  return out;
}

template <class Mask>
Mask MaskOf(const ParsedField& field, Bounds full) {
  Mask mask = 0;
  const bool any = field.any;
  auto set = [&](int v) { mask = static_cast<Mask>(mask | (Mask{1} << v)); };
  if (any) {
    for (int v = full.low; v <= full.high; ++v) set(v);
  } else {
    for (const auto& part : field.parts) {
      for (int v = part.first; v <= part.last; v += part.step) set(v);
    }
  }
  return mask;
}

YearSet YearSetOf(const ParsedField& field) {
  YearSet set;
  set.any = field.any;
  if (field.any) return set;
  if (field.parts.size() == 1) {
    set.first = field.parts[0].first;
    set.last = field.parts[0].last;
    set.step = field.parts[0].step;
  } else {
    for (const auto& part : field.parts) set.listed.push_back(part.first);
    std::sort(set.listed.begin(), set.listed.end());
  }
  return set;
}

template <class Mask>
bool HasBit(Mask mask, int value) {
  return static_cast<unsigned>(value) < sizeof(Mask) * 8 && ((mask >> value) & 1U) != 0;
}

// The smallest set bit >= from, or -1.
int NextBit(std::uint64_t mask, int from) {
  if (from >= 64) return -1;
  const std::uint64_t rest = mask >> from << from;
  return rest == 0 ? -1 : std::countr_zero(rest);
}

// Why ParseField refuses a field, following its order of forms.
Refusal DiagnoseField(std::string_view text, int position, int currentYear) {
  Refusal r;
  r.text = std::string(text);
  auto fault = [&](Refusal::Kind kind, std::string_view part, Bounds bounds = {}) {
    r.kind = kind;
    r.part = std::string(part);
    r.low = bounds.low;
    r.high = bounds.high;
    return r;
  };
  // The fault of one number, if any.
  auto number = [&](std::string_view t, bool isStep) -> std::optional<Refusal> {
    if (t.empty()) return fault(Refusal::Kind::kEmpty, t);
    if (t.find_first_of("/-,*") != std::string_view::npos) return fault(Refusal::Kind::kBadForm, t);
    Bounds bounds = FullRange(position, currentYear);
    if (isStep) bounds.low = std::max(bounds.low, 1);
    const auto value = ReadNumber(t);
    if (!value) return fault(Refusal::Kind::kNotANumber, t);
    if (*value < bounds.low || *value > bounds.high) {
      return fault(isStep ? Refusal::Kind::kStepOutOfRange : Refusal::Kind::kOutOfRange, t, bounds);
    }
    return std::nullopt;
  };
  auto range = [&](std::string_view t, const std::vector<std::string>& parts) {
    for (const auto& part : parts) {
      if (auto f = number(part, false)) return *f;
    }
    if (*ReadNumber(parts[1]) <= *ReadNumber(parts[0])) {
      return fault(Refusal::Kind::kRangeNotAscending, t);
    }
    return fault(Refusal::Kind::kBadForm, t);
  };
  if (text.empty()) return fault(Refusal::Kind::kEmpty, text);
  const auto stepParts = rt::SplitText(text, "/");
  if (stepParts.size() == 2) {
    if (auto f = number(stepParts[1], true)) return *f;
    const std::string& base = stepParts[0];
    const auto baseParts = rt::SplitText(base, "-");
    if (baseParts.size() == 2) return range(base, baseParts);
    if (baseParts.size() == 1) {
      if (auto f = number(base, false)) return *f;
    }
    return fault(base.empty() ? Refusal::Kind::kEmpty : Refusal::Kind::kBadForm, base);
  }
  if (stepParts.size() > 2 || text.find('/') != std::string_view::npos) {
    return fault(Refusal::Kind::kBadForm, text);
  }
  const auto rangeParts = rt::SplitText(text, "-");
  if (rangeParts.size() == 2) return range(text, rangeParts);
  const auto listParts = rt::SplitText(text, ",");
  if (listParts.size() >= 2) {
    std::vector<int> seen;
    for (const auto& part : listParts) {
      if (auto f = number(part, false)) return *f;
      const int value = *ReadNumber(part);
      if (std::find(seen.begin(), seen.end(), value) != seen.end()) {
        return fault(Refusal::Kind::kRepeated, part);
      }
      seen.push_back(value);
    }
  }
  if (auto f = number(text, false)) return *f;
  return fault(Refusal::Kind::kBadForm, text);
}

constexpr const char* kFieldNames[] = {"second", "minute",      "hour", "day of month",
                                       "month",  "day of week", "year"};

}  // namespace

bool YearSet::Contains(int year) const {
  if (any) return true;
  if (!listed.empty()) return std::binary_search(listed.begin(), listed.end(), year);
  return year >= first && year <= last && (year - first) % step == 0;
}

int YearSet::NextFrom(int from) const {
  if (from > kMaxYear) return -1;
  if (any) return std::max(from, 1);
  if (!listed.empty()) {
    const auto it = std::lower_bound(listed.begin(), listed.end(), from);
    return it == listed.end() ? -1 : *it;
  }
  if (from <= first) return first <= last ? first : -1;
  const int next = first + (from - first + step - 1) / step * step;
  return next <= last ? next : -1;
}

int YearSet::PrevFrom(int from) const {
  if (from < 1) return -1;
  from = std::min(from, kMaxYear);
  if (any) return from;
  if (!listed.empty()) {
    const auto it = std::upper_bound(listed.begin(), listed.end(), from);
    return it == listed.begin() ? -1 : *std::prev(it);
  }
  if (last < first || from < first) return -1;
  const int top = std::min(from, last);
  return top - (top - first) % step;
}

bool TaskMatchesTime(const Fields& f, const rt::SystemTime& t) {
  return f.year.Contains(t.year) && HasBit(f.dayOfWeek, t.dayOfWeek) && HasBit(f.month, t.month) &&
         HasBit(f.day, t.day) && HasBit(f.hour, t.hour) && HasBit(f.minute, t.minute) &&
         HasBit(f.second, t.second);
}

bool ValidateFieldValue(std::string_view text, int position, bool isStep, int currentYear) {
  if (position < 1 || position > kFieldCount) return false;
  const auto value = ReadNumber(text);
  if (!value) return false;
  Bounds bounds = FullRange(position, currentYear);
  if (isStep) bounds.low = std::max(bounds.low, 1);
  return *value >= bounds.low && *value <= bounds.high;
}

bool ValidateField(std::string_view text, int position, int currentYear) {
  if (position < 1 || position > kFieldCount) return false;
  return ParseField(text, position, currentYear).has_value();
}

std::string ExpandField(std::string_view text, int position, int currentYear) {
  FullRange(position, currentYear);  // a position outside 1..7 is a fault of the caller
  const auto field = ParseField(text, position, currentYear);
  return field ? FieldText(*field) : std::string();
}

std::string ExpandRange(std::string_view text) {
  const auto parts = rt::SplitText(text, "-");
  if (parts.size() != 2) return {};
  const auto low = ReadNumber(parts[0]);
  const auto high = ReadNumber(parts[1]);
  if (!low || !high) return {};
  ParsedField field;
  if (*low <= *high) field.parts.push_back({*low, *high, 1});
  return FieldText(field);
}

std::optional<Schedule> Schedule::Parse(std::string_view line, int currentYear, std::string* why) {
  auto refuse = [&](std::string reason) -> std::optional<Schedule> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  // Lengths are kept in 32 bits.
  if (line.size() >= 0xFFFFFFFFu / 2) return refuse("the line is longer than 2 GiB");
  const auto pieces = Split<8>(line, ' ');
  const auto& items = pieces.items;
  if (pieces.count != 8) {
    return refuse("the line has " + std::to_string(pieces.count) +
                  " items; it needs seven time fields and a task name, separated by single spaces");
  }
  std::array<ParsedField, kFieldCount> parsed;
  for (int i = 0; i < kFieldCount; ++i) {
    auto field = ParseField(items[i], i + 1, currentYear);
    if (!field) {
      return refuse("field " + std::to_string(i + 1) + " (" + kFieldNames[i] + ") \"" +
                    std::string(items[i]) + "\" is not valid");
    }
    parsed[i] = std::move(*field);
  }
  for (int i = 0; i < kFieldCount; ++i) {
    if (!parsed[i].any && parsed[i].parts.empty()) {
      return refuse("field " + std::to_string(i + 1) + " (" + kFieldNames[i] + ") \"" +
                    std::string(items[i]) + "\" matches no value");
    }
  }
  Schedule schedule;
  schedule.text_ = std::string(line);
  schedule.lineLength_ = static_cast<std::uint32_t>(line.size());
  std::size_t nameStart = kFieldCount;  // the separators before the name
  for (int i = 0; i < kFieldCount; ++i) nameStart += items[i].size();
  if (nameStart + items[7].size() != line.size()) {
    schedule.text_ += '\0';
    schedule.text_ += items[7];
    nameStart = line.size() + 1;
  }
  schedule.nameOffset_ = static_cast<std::uint32_t>(nameStart);
  schedule.currentYear_ = currentYear;
  Fields& f = schedule.fields_;
  f.second = MaskOf<std::uint64_t>(parsed[0], FullRange(1, currentYear));
  f.minute = MaskOf<std::uint64_t>(parsed[1], FullRange(2, currentYear));
  f.hour = MaskOf<std::uint32_t>(parsed[2], FullRange(3, currentYear));
  f.day = MaskOf<std::uint32_t>(parsed[3], FullRange(4, currentYear));
  f.month = MaskOf<std::uint16_t>(parsed[4], FullRange(5, currentYear));
  f.dayOfWeek = MaskOf<std::uint8_t>(parsed[5], FullRange(6, currentYear));
  f.year = YearSetOf(parsed[6]);
  return schedule;
}

std::optional<Refusal> ExplainRefusal(std::string_view line, int currentYear) {
  const auto items = rt::SplitText(line, " ");
  if (items.size() != 8) {
    Refusal r;
    r.kind = Refusal::Kind::kItemCount;
    r.items = static_cast<int>(items.size());
    return r;
  }
  // The verdict is ParseField's own; the diagnosis only says why.
  std::array<ParsedField, kFieldCount> parsed;
  for (int i = 0; i < kFieldCount; ++i) {
    auto field = ParseField(items[i], i + 1, currentYear);
    if (!field) {
      Refusal r = DiagnoseField(items[i], i + 1, currentYear);
      r.field = i + 1;
      return r;
    }
    parsed[i] = std::move(*field);
  }
  for (int i = 0; i < kFieldCount; ++i) {
    if (!parsed[i].any && parsed[i].parts.empty()) {
      Refusal r;
      r.kind = Refusal::Kind::kNoValue;
      r.field = i + 1;
      r.text = items[i];
      r.part = rt::SplitText(items[i], "/").back();
      return r;
    }
  }
  return std::nullopt;
}

std::string Schedule::ExpandedField(int position) const {
  const auto items = rt::SplitText(line(), " ");
  return ExpandField(items.at(static_cast<std::size_t>(position - 1)), position, currentYear_);
}

std::optional<rt::SystemTime> Schedule::NextAfter(const rt::SystemTime& from) const {
  const rt::SystemTime start = TimeFromLocalSeconds(LocalSeconds(from) + 1);
  const Fields& f = fields_;
  // With every year allowed the calendar repeats after 400 years.
  const int lastYear = f.year.any ? std::min(kMaxYear, start.year + 400) : kMaxYear;
  for (int year = f.year.NextFrom(start.year); year != -1 && year <= lastYear;
       year = f.year.NextFrom(year + 1)) {
    const bool startYear = year == start.year;
    for (int month = NextBit(f.month, startYear ? start.month : 1); month != -1;
         month = NextBit(f.month, month + 1)) {
      const bool startMonth = startYear && month == start.month;
      const int days = rt::DaysInMonth(year, month);
      for (int day = NextBit(f.day, startMonth ? start.day : 1); day != -1 && day <= days;
           day = NextBit(f.day, day + 1)) {
        const rt::SystemTime midnight =
            TimeFromLocalSeconds(LocalSeconds(rt::SystemTime{year, month, 0, day, 0, 0, 0, 0}));
        if (!HasBit(f.dayOfWeek, midnight.dayOfWeek)) continue;
        const bool startDay = startMonth && day == start.day;
        const int h0 = startDay ? start.hour : 0;
        for (int hour = NextBit(f.hour, h0); hour != -1; hour = NextBit(f.hour, hour + 1)) {
          const int m0 = hour == h0 && startDay ? start.minute : 0;
          for (int minute = NextBit(f.minute, m0); minute != -1;
               minute = NextBit(f.minute, minute + 1)) {
            const int s0 = minute == m0 && hour == h0 && startDay ? start.second : 0;
            const int second = NextBit(f.second, s0);
            if (second == -1) continue;
            rt::SystemTime found = midnight;
            found.hour = hour;
            found.minute = minute;
            found.second = second;
            return found;
          }
        }
      }
    }
  }
  return std::nullopt;
}

std::vector<rt::SystemTime> Schedule::NextFirings(const rt::SystemTime& from, int count) const {
  std::vector<rt::SystemTime> out;
  rt::SystemTime at = from;
  while (static_cast<int>(out.size()) < count) {
    const auto next = NextAfter(at);
    if (!next) break;
    out.push_back(*next);
    at = *next;
  }
  return out;
}

std::vector<Firing> FiringsBetween(std::span<const Schedule* const> schedules, std::int64_t first,
                                   std::int64_t last, std::size_t maxCount, bool* more) {
  // Each schedule's next firing in a heap, earliest (then lowest index) on top.
  std::vector<Firing> next;
  const auto later = [](const Firing& a, const Firing& b) {
    return a.second != b.second ? a.second > b.second : a.index > b.index;
  };
  const auto advance = [&](std::size_t index, std::int64_t after) {
    const auto at = schedules[index]->NextAfter(TimeFromLocalSeconds(after));
    if (!at) return;
    const std::int64_t second = LocalSeconds(*at);
    if (second > last) return;
    next.push_back({second, index});
    std::push_heap(next.begin(), next.end(), later);
  };
  if (more) *more = false;
  std::vector<Firing> out;
  if (last < first) return out;
  for (std::size_t i = 0; i < schedules.size(); ++i) {
    if (schedules[i]) advance(i, first - 1);
  }
  while (!next.empty()) {
    if (out.size() >= maxCount) {
      if (more) *more = true;
      break;
    }
    std::pop_heap(next.begin(), next.end(), later);
    const Firing firing = next.back();
    next.pop_back();
    out.push_back(firing);
    advance(firing.index, firing.second);
  }
  return out;
}

std::int64_t LocalSeconds(const rt::SystemTime& t) {
  return rt::DaysFromCivil(t.year, t.month, t.day) * 86400 + std::int64_t{t.hour} * 3600 +
         std::int64_t{t.minute} * 60 + t.second;
}

rt::SystemTime TimeFromLocalSeconds(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const rt::CivilDate date = rt::CivilFromDays(days);
  rt::SystemTime t;
  t.year = date.year;
  t.month = date.month;
  t.dayOfWeek = rt::DayOfWeek(days);
  t.day = date.day;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

}  // namespace cron
