// The next firing time of arbitrary schedule lines, against the matcher the
// scheduler's tick runs: the time found matches, no second before it (in a
// window after the start and one before the find) does, and the compiled
// matcher agrees with the plain substring reference on the expanded texts.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crontab/schedule.h"
#include "reference_matcher.h"

namespace {

constexpr int kYear = 2026;
constexpr std::int64_t kWindow = 3000;  // seconds checked on each side

bool Tick(const cron::Schedule& s, std::int64_t second) {
  return cron::TaskMatchesTime(s.fields(), cron::TimeFromLocalSeconds(second));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  // The start: six bytes of calendar, then the line (up to a zero byte).
  const int year = kYear + data[0] % 40, month = 1 + data[1] % 12;
  const rt::SystemTime from = cron::TimeFromLocalSeconds(
      cron::LocalSeconds({year, month, 0, 1 + data[2] % rt::DaysInMonth(year, month), data[3] % 24,
                          data[4] % 60, data[5] % 60, 0}));
  std::string line(reinterpret_cast<const char*>(data + 6), size - 6);
  line = line.c_str();
  const auto schedule = cron::Schedule::Parse(line, kYear);
  if (!schedule) return 0;
  std::array<std::string, cron::kFieldCount> texts;
  for (int p = 1; p <= cron::kFieldCount; ++p)
    texts[p - 1] = cron::reference::ExpandedField(*schedule, p);

  const std::int64_t start = cron::LocalSeconds(from);
  const auto next = schedule->NextAfter(from);
  const std::int64_t found = next ? cron::LocalSeconds(*next) : INT64_MAX;
  if (found <= start) std::abort();
  if (next && (!schedule->Matches(*next) || !cron::reference::TaskMatches(texts, *next)))
    std::abort();
  if (next && cron::TimeFromLocalSeconds(found) != *next) std::abort();  // a real calendar time
  for (std::int64_t s = start + 1; s < found && s <= start + kWindow; ++s) {
    if (Tick(*schedule, s)) std::abort();
  }
  if (next) {
    for (std::int64_t s = std::max(start + 1, found - kWindow); s < found; ++s) {
      if (Tick(*schedule, s)) std::abort();
    }
  }
  // The reference is slow on long expanded fields: a few samples.
  for (std::int64_t s = start; s <= start + kWindow; s += 331) {
    const rt::SystemTime t = cron::TimeFromLocalSeconds(s);
    if (schedule->Matches(t) != cron::reference::TaskMatches(texts, t)) std::abort();
  }
  return 0;
}
