#include "runtime/datetime_text.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "runtime/text.h"
#include "runtime/value.h"

namespace rt {
namespace {

// Room the platform's formatting gives a picture: 50 characters with the
// terminating zero.
constexpr std::size_t kPictureRoom = 49;

constexpr std::array<const char*, 7> kDayNames = {"星期日", "星期一", "星期二", "星期三",
                                                  "星期四", "星期五", "星期六"};
constexpr std::array<const char*, 7> kDayAbbrev = {"周日", "周一", "周二", "周三",
                                                   "周四", "周五", "周六"};
constexpr std::array<const char*, 12> kMonthNames = {"一月", "二月", "三月",   "四月",
                                                     "五月", "六月", "七月",   "八月",
                                                     "九月", "十月", "十一月", "十二月"};
constexpr const char* kMonthSuffix = "月";
constexpr const char* kAm = "上午";
constexpr const char* kPm = "下午";

std::string Number(int value, int width) {
  return FormatText("%0*d", width, value);
}

// Length of the run of the same byte starting at i.
std::size_t RunLength(std::string_view p, std::size_t i) {
  std::size_t n = 1;
  while (i + n < p.size() && p[i + n] == p[i]) ++n;
  return n;
}

// Copies the quoted literal that starts at p[i] (past its closing quote);
// two quotes inside stand for one.
void CopyLiteral(std::string_view p, std::size_t& i, std::string& out) {
  ++i;
  while (i < p.size()) {
    if (p[i] == '\'') {
      if (i + 1 < p.size() && p[i + 1] == '\'') {
        out += '\'';
        i += 2;
        continue;
      }
      ++i;
      return;
    }
    const std::size_t n = CharLength(p, i);
    out.append(p.substr(i, n));
    i += n;
  }
}

// A date element of `run` letters c; false when c is none.
bool FormatDateElement(const SystemTime& st, char c, std::size_t run, std::string& out) {
  switch (c) {
    case 'y':
      out += run == 1   ? std::to_string(st.year % 100)
             : run == 2 ? Number(st.year % 100, 2)
                        : Number(st.year, 4);
      return true;
    case 'M':
      if (run <= 2) {
        out += Number(st.month, static_cast<int>(run));
      } else if (run == 3) {
        out += std::to_string(st.month) + kMonthSuffix;
      } else {
        out += kMonthNames[static_cast<std::size_t>(st.month - 1)];
      }
      return true;
    case 'd':
      if (run <= 2) {
        out += Number(st.day, static_cast<int>(run));
      } else {
        out += (run == 3 ? kDayAbbrev : kDayNames)[static_cast<std::size_t>(st.dayOfWeek)];
      }
      return true;
    default:
      return false;
  }
}

// A time element of `run` letters c; false when c is none.
bool FormatTimeElement(const SystemTime& st, char c, std::size_t run, bool hour24,
                       std::string& out) {
  const int width = run >= 2 ? 2 : 1;
  switch (c) {
    case 'h':
      out += Number(hour24 ? st.hour : (st.hour % 12 == 0 ? 12 : st.hour % 12), width);
      return true;
    case 'H':
      out += Number(st.hour, width);
      return true;
    case 'm':
      out += Number(st.minute, width);
      return true;
    case 's':
      out += Number(st.second, width);
      return true;
    case 't': {
      const std::string marker = st.hour < 12 ? kAm : kPm;
      out += run == 1 ? marker.substr(0, CharLength(marker, 0)) : marker;
      return true;
    }
    default:
      return false;
  }
}

// Formats one picture. Only the elements of its kind (date or time) are
// interpreted; everything else is copied, double-byte characters whole.
std::optional<std::string> FormatPicture(const SystemTime& st, std::string_view p, bool datePart,
                                         bool hour24) {
  std::string out;
  std::size_t i = 0;
  while (i < p.size()) {
    const char c = p[i];
    if (IsLeadByte(c)) {
      const std::size_t n = CharLength(p, i);
      out.append(p.substr(i, n));
      i += n;
    } else if (c == '\'' && i + 1 < p.size() && p[i + 1] == '\'') {
      // Two quotes stand for one quote, inside a literal or not.
      out += '\'';
      i += 2;
    } else if (c == '\'') {
      CopyLiteral(p, i, out);
    } else {
      const std::size_t run = RunLength(p, i);
      const bool used = datePart ? FormatDateElement(st, c, run, out)
                                 : FormatTimeElement(st, c, run, hour24, out);
      if (used) {
        i += run;
      } else {
        out += c;
        ++i;
      }
    }
  }
  if (out.size() > kPictureRoom) return std::nullopt;
  return out;
}

// Reads 1 to maxDigits decimal digits at pos.
std::optional<int> ReadNumber(std::string_view t, std::size_t& pos, std::size_t maxDigits) {
  const DigitRun run = ReadDigits(t, pos, 10, maxDigits);
  if (run.length == 0) return std::nullopt;
  pos += run.length;
  return static_cast<int>(run.value);
}

}  // namespace

std::string FormatDateTime(DateTime dateTime, std::string_view datePicture,
                           std::string_view timePicture, bool hour24) {
  const std::optional<SystemTime> st = SystemTimeFromDateTime(dateTime);
  if (!st) return {};
  std::string result;
  // Pictures shorter than three bytes count as absent.
  if (datePicture.size() >= 3) {
    result += FormatPicture(*st, datePicture, true, hour24).value_or(std::string());
  }
  if (timePicture.size() >= 3) {
    result += FormatPicture(*st, timePicture, false, hour24).value_or(std::string());
  }
  return result;
}

std::string ToUnixTimestamp(std::optional<DateTime> dateTime, bool tenDigits, bool fillToTen) {
  const DateTime dt = dateTime ? *dateTime : NowLocal();
  const std::optional<SystemTime> st = SystemTimeFromDateTime(dt);
  std::string millis = ValueToText(static_cast<std::int16_t>(st ? st->milliseconds : 0));
  if (millis.size() < 3) millis.insert(0, 3 - millis.size(), '0');

  const DateTime base = TextToDateTime("1970-01-01 08:00:00");
  // Days as a double carry a rounding error that reaches the sixth decimal
  // of the seconds from 2060 on: whole milliseconds are all a value holds.
  const double difference = std::round(DateTimeDifference(dt, base, 8) * 1000.0) / 1000.0;
  std::string seconds = ValueToText(difference);
  if (fillToTen && seconds.size() < 10) seconds.insert(0, 10 - seconds.size(), '0');
  if (tenDigits) return seconds.substr(0, 10);
  return seconds + millis;
}

DateTime TextToDateTime(std::string_view text) {
  if (text.size() <= 7) return kMinimumDate;
  std::size_t pos = 0;
  const auto year = ReadNumber(text, pos, 4);
  if (!year || pos >= text.size() || IsAsciiDigit(text[pos])) return kMinimumDate;
  const char dateSep = text[pos++];
  const auto month = ReadNumber(text, pos, 2);
  if (!month || pos >= text.size() || text[pos] != dateSep) return kMinimumDate;
  ++pos;
  const auto day = ReadNumber(text, pos, 2);
  if (!day) return kMinimumDate;

  int hour = 0, minute = 0, second = 0;
  if (pos < text.size()) {
    if (text[pos] != ' ') return kMinimumDate;
    ++pos;
    const auto h = ReadNumber(text, pos, 2);
    if (!h || pos >= text.size() || IsAsciiDigit(text[pos])) return kMinimumDate;
    const char timeSep = text[pos++];
    const auto m = ReadNumber(text, pos, 2);
    if (!m) return kMinimumDate;
    hour = *h;
    minute = *m;
    if (pos < text.size()) {
      if (text[pos] != timeSep) return kMinimumDate;
      ++pos;
      const auto s = ReadNumber(text, pos, 2);
      if (!s) return kMinimumDate;
      second = *s;
    }
    if (pos != text.size()) return kMinimumDate;
  }

  if (*year == 0 || *month < 1 || *month > 12) return kMinimumDate;
  if (*day < 1 || *day > DaysInMonth(*year, *month)) return kMinimumDate;
  if (hour > 23 || minute >= 60 || second >= 60) return kMinimumDate;
  return MakeDateTime(*year, *month, *day, hour, minute, second);
}

double DateTimeDifference(DateTime first, DateTime second, int unit) {
  const double days = first - second;
  switch (unit) {
    case 5:
      return days;
    case 6:
      return days * 24;
    case 7:
      return days * 1440;
    case 8:
      return days * 86400;
    case 4:
      return days / 7;
    default:
      break;
  }
  if (unit < 1 || unit > 3) return 0;
  const auto a = SystemTimeFromDateTime(first);
  const auto b = SystemTimeFromDateTime(second);
  if (!a || !b) return 0;
  switch (unit) {
    case 1:
      return a->year - b->year;
    case 2: {
      const int quarterA = (a->month - 1) / 3, quarterB = (b->month - 1) / 3;
      return (a->year - b->year) * 4 + quarterA - quarterB;
    }
    default:
      return (a->year * 12 + a->month) - (b->year * 12 + b->month);
  }
}

std::string SystemTimeText(const SystemTime& time) {
  return FormatText("%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                    time.minute, time.second);
}

}  // namespace rt
