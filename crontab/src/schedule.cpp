#include "crontab/schedule.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <variant>

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

// A plain decimal: rt::ParseDecimal's digits without a leading zero, at
// most 2^31 - 1.
std::optional<int> ReadNumber(std::string_view text) {
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  const auto value = rt::ParseDecimal(text);
  if (!value || *value > INT32_MAX) return std::nullopt;
  return static_cast<int>(*value);
}

// The values a number at the position may take; a step's start at 1.
Bounds ValueBounds(int position, bool isStep, int currentYear) {
  Bounds bounds = FullRange(position, currentYear);
  if (isStep) bounds.low = std::max(bounds.low, 1);
  return bounds;
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

using Kind = Refusal::Kind;

// A field, a number or a range as read, or why it is refused.
template <class T>
using Reading = std::variant<T, Refusal>;

template <class T>
const Refusal* FaultOf(const Reading<T>& reading) {
  return std::get_if<Refusal>(&reading);
}

// Reads one field of a position 1..7 in one pass: validation, expansion and,
// for a refused field, its first fault. The form is the first that applies:
// "*", base/step, x-y, list, number.
class FieldReader {
 public:
  FieldReader(std::string_view text, int position, int currentYear)
      : text_(text), position_(position), currentYear_(currentYear) {}

  Reading<ParsedField> Read() const {
    if (text_ == "*") return ParsedField{true, {}};
    if (text_.empty()) return Fault(Kind::kEmpty, text_);
    const auto stepParts = Split<2>(text_, '/');
    if (stepParts.count == 2) return Stepped(stepParts.items[0], stepParts.items[1]);
    if (text_.find('/') != std::string_view::npos) return Fault(Kind::kBadForm, text_);
    const auto rangeParts = Split<2>(text_, '-');
    if (rangeParts.count == 2) {
      const auto range = Range(text_, rangeParts.items[0], rangeParts.items[1]);
      if (const Refusal* fault = FaultOf(range)) return *fault;
      return Values(std::get<Bounds>(range), 1);
    }
    if (Split<1>(text_, ',').count >= 2) return List();
    const auto value = Number(text_, false);
    if (const Refusal* fault = FaultOf(value)) return *fault;
    return Values({std::get<int>(value), std::get<int>(value)}, 1);
  }

 private:
  Refusal Fault(Kind kind, std::string_view part, Bounds bounds = {}) const {
    Refusal r;
    r.kind = kind;
    r.text = std::string(text_);
    r.part = std::string(part);
    r.low = bounds.low;
    r.high = bounds.high;
    return r;
  }

  // The multiples of step inside bounds.
  static ParsedField Values(Bounds bounds, int step) {
    ParsedField field;
    const int first = (bounds.low + step - 1) / step * step;
    if (first <= bounds.high) {
      field.parts.push_back({first, bounds.high - (bounds.high - first) % step, step});
    }
    return field;
  }

  Reading<int> Number(std::string_view t, bool isStep) const {
    if (t.empty()) return Fault(Kind::kEmpty, t);
    if (t.find_first_of("/-,*") != std::string_view::npos) return Fault(Kind::kBadForm, t);
    const auto value = ReadNumber(t);
    if (!value) return Fault(Kind::kNotANumber, t);
    const Bounds bounds = ValueBounds(position_, isStep, currentYear_);
    if (*value < bounds.low || *value > bounds.high) {
      return Fault(isStep ? Kind::kStepOutOfRange : Kind::kOutOfRange, t, bounds);
    }
    return *value;
  }

  // x-y with y above x; whole is the text at fault when it is not.
  Reading<Bounds> Range(std::string_view whole, std::string_view low, std::string_view high) const {
    const auto first = Number(low, false);
    if (const Refusal* fault = FaultOf(first)) return *fault;
    const auto last = Number(high, false);
    if (const Refusal* fault = FaultOf(last)) return *fault;
    if (std::get<int>(last) <= std::get<int>(first)) return Fault(Kind::kRangeNotAscending, whole);
    return Bounds{std::get<int>(first), std::get<int>(last)};
  }

  Reading<ParsedField> Stepped(std::string_view base, std::string_view stepText) const {
    const auto step = Number(stepText, true);
    if (const Refusal* fault = FaultOf(step)) return *fault;
    if (base == "*") return Values(FullRange(position_, currentYear_), std::get<int>(step));
    const auto baseParts = Split<2>(base, '-');
    if (baseParts.count == 2) {
      const auto range = Range(base, baseParts.items[0], baseParts.items[1]);
      if (const Refusal* fault = FaultOf(range)) return *fault;
      return Values(std::get<Bounds>(range), std::get<int>(step));
    }
    if (baseParts.count != 1) return Fault(base.empty() ? Kind::kEmpty : Kind::kBadForm, base);
    // A trailing "-" leaves one piece, which is the number; a fault is told
    // in the whole base.
    const auto value = Number(baseParts.items[0], false);
    if (FaultOf(value)) return std::get<Refusal>(Number(base, false));
    return Values({std::get<int>(value), std::get<int>(value)}, std::get<int>(step));
  }

  // Listed values in their order, none twice.
  Reading<ParsedField> List() const {
    ParsedField field;
    std::optional<Refusal> fault;
    std::vector<bool> seen(static_cast<std::size_t>(FullRange(position_, currentYear_).high) + 1);
    ForEachPiece(text_, ',', [&](std::string_view piece) {
      const auto value = Number(piece, false);
      if (const Refusal* f = FaultOf(value)) {
        fault = *f;
        return false;
      }
      const int v = std::get<int>(value);
      if (seen[static_cast<std::size_t>(v)]) {
        fault = Fault(Kind::kRepeated, piece);
        return false;
      }
      seen[static_cast<std::size_t>(v)] = true;
      field.parts.push_back({v, v, 1});
      return true;
    });
    if (fault) return *std::move(fault);
    return field;
  }

  std::string_view text_;
  int position_;
  int currentYear_;
};

// The verdict alone.
std::optional<ParsedField> ParseField(std::string_view text, int position, int currentYear) {
  auto reading = FieldReader(text, position, currentYear).Read();
  if (FaultOf(reading)) return std::nullopt;
  return std::get<ParsedField>(std::move(reading));
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
  const Bounds bounds = ValueBounds(position, isStep, currentYear);
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

namespace {

// A line's items and fields as read, or its first fault: the item count,
// then each field's form in order, then a field that matches no value.
struct LineReading {
  Pieces<kFieldCount + 1> items;
  std::array<ParsedField, kFieldCount> fields;
  std::optional<Refusal> fault;
};

LineReading ReadLine(std::string_view line, int currentYear) {
  LineReading r;
  r.items = Split<kFieldCount + 1>(line, ' ');
  if (r.items.count != kFieldCount + 1) {
    r.fault.emplace();
    r.fault->kind = Kind::kItemCount;
    r.fault->items = static_cast<int>(r.items.count);
    return r;
  }
  for (int i = 0; i < kFieldCount; ++i) {
    auto field = FieldReader(r.items.items[i], i + 1, currentYear).Read();
    if (FaultOf(field)) {
      r.fault = std::get<Refusal>(std::move(field));
      r.fault->field = i + 1;
      return r;
    }
    r.fields[i] = std::get<ParsedField>(std::move(field));
  }
  for (int i = 0; i < kFieldCount; ++i) {
    if (r.fields[i].any || !r.fields[i].parts.empty()) continue;
    // Only a step can leave a field empty.
    r.fault.emplace();
    r.fault->kind = Kind::kNoValue;
    r.fault->field = i + 1;
    r.fault->text = r.items.items[i];
    r.fault->part = Split<2>(r.items.items[i], '/').items[1];
    return r;
  }
  return r;
}

// Parse's reason, in plain ASCII.
std::string ReasonText(const Refusal& fault) {
  if (fault.kind == Kind::kItemCount) {
    return "the line has " + std::to_string(fault.items) +
           " items; it needs seven time fields and a task name, separated by single spaces";
  }
  return "field " + std::to_string(fault.field) + " (" + kFieldNames[fault.field - 1] + ") \"" +
         fault.text + (fault.kind == Kind::kNoValue ? "\" matches no value" : "\" is not valid");
}

}  // namespace

std::optional<Schedule> Schedule::Parse(std::string_view line, int currentYear, std::string* why) {
  auto refuse = [&](std::string reason) -> std::optional<Schedule> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  // Lengths are kept in 32 bits.
  if (line.size() >= 0xFFFFFFFFu / 2) return refuse("the line is longer than 2 GiB");
  const LineReading read = ReadLine(line, currentYear);
  if (read.fault) return refuse(ReasonText(*read.fault));
  const auto& items = read.items.items;
  Schedule schedule;
  schedule.text_ = std::string(line);
  schedule.lineLength_ = static_cast<std::uint32_t>(line.size());
  std::size_t nameStart = kFieldCount;  // the separators before the name
  for (int i = 0; i < kFieldCount; ++i) nameStart += items[i].size();
  if (nameStart + items[kFieldCount].size() != line.size()) {
    schedule.text_ += '\0';
    schedule.text_ += items[kFieldCount];
    nameStart = line.size() + 1;
  }
  schedule.nameOffset_ = static_cast<std::uint32_t>(nameStart);
  schedule.currentYear_ = currentYear;
  const auto& parsed = read.fields;
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
  return ReadLine(line, currentYear).fault;
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
  return NextFirings(from, count, LocalZone());  // without a zone every second exists
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
