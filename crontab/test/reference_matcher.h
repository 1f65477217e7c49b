// The matching rule written as plainly as possible, on the snapshot's text
// form: one line per task, its seven expanded fields, its escaped name and
// its callback's index, "|" between items; a field is "*" or ":"-delimited
// values searched for ":v:". Tests and benchmarks hold the compiled matcher
// against it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "crontab/schedule.h"
#include "runtime/clock.h"
#include "runtime/text.h"

namespace cron::reference {

// The expanded text of one field (position 1..7) of a parsed line.
inline std::string ExpandedField(const Schedule& schedule, int position) {
  const auto items = rt::SplitText(schedule.line(), " ");
  return ExpandField(items.at(static_cast<std::size_t>(position - 1)), position,
                     schedule.currentYear());
}

// A name as the text form holds it: "%", "|", CR, LF and bytes that lead
// no character become %XX, so items and lines stay apart.
inline std::string EscapeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t len = rt::CharLength(name, i);
    const auto byte = static_cast<unsigned char>(name[i]);
    if (len > 1) {
      out.append(name.substr(i, len));
    } else if (byte == '%' || byte == '|' || byte == '\r' || byte == '\n' || byte >= 0x80) {
      rt::AppendPercentByte(out, byte);
    } else {
      out += name[i];
    }
    i += len;
  }
  return out;
}

inline bool FieldMatches(std::string_view field, int value) {
  if (field == "*") return true;
  return field.find(":" + std::to_string(value) + ":") != std::string_view::npos;
}

// fields: second, minute, hour, day, month, day of week, year.
template <class Fields>
bool TaskMatches(const Fields& f, const rt::SystemTime& t) {
  return FieldMatches(f[6], t.year) && FieldMatches(f[5], t.dayOfWeek) &&
         FieldMatches(f[4], t.month) && FieldMatches(f[3], t.day) && FieldMatches(f[2], t.hour) &&
         FieldMatches(f[1], t.minute) && FieldMatches(f[0], t.second);
}

// Items 8 (the name as stored) of the snapshot lines that match the time.
inline std::vector<std::string> MatchingNames(std::string_view snapshotText,
                                              const rt::SystemTime& t) {
  std::vector<std::string> names;
  for (const auto& line : rt::SplitText(snapshotText, "\r\n")) {
    const auto items = rt::SplitText(line, "|");
    if (items.size() == 9 && TaskMatches(items, t)) names.push_back(items[7]);
  }
  return names;
}

}  // namespace cron::reference
