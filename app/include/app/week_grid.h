// The coming week of a schedule at a glance, for --check.
#pragma once

#include <string>
#include <vector>

#include "crontab/schedule.h"
#include "runtime/clock.h"

namespace app {

// Pushes a free key gets a day: the relay publishes 5 a day for free keys
// and refuses the ones beyond.
inline constexpr int kRelayFreeDailyAllowance = 5;

// The seven days from today: per hour how many reminders the tasks that
// `lines` install send (1-9, "+" for more, blank for none) with each day's
// sum, the range of the sums, and a note when a day passes the relay's free
// allowance or two tasks fire in the same second. "" without a task.
std::string WeekReport(const std::vector<std::string>& lines, const rt::SystemTime& now,
                       const cron::LocalZone& zone = cron::LocalZone());

}  // namespace app
