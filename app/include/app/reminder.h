// The reminder application: files, banner, schedule, deliveries and the
// console loop. The executable's entry only wires the real platform; tests
// run the same routines with an injected console, clock, folder and relay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/context.h"
#include "app/settings.h"

namespace app {

// The running program's context from now on: a test's (nullptr: the
// process's own again).
void UseContext(AppContext* context);

// Start step and exit hook of the process frame.
void CreateAppScheduler();
void DestroyAppScheduler();

// The file whose lock says that the program runs in its folder.
inline constexpr std::string_view kLockFile = "reminder.lock";
// What a second start in a folder says: the copy already running, by its
// process id when known (0: not known).
std::string AlreadyRunningText(std::int64_t holder);

// The main routine; its result is the exit code: 1 when no key came or
// another copy runs in the folder.
int ReminderMain();
// The scheduler's callback for the reminder task: queues a delivery, which
// is retried after no answer, 429 or 5xx (see RetryDelaySeconds).
void OnReminderTrigger(double fireTime, const char* taskName);
// The scheduler's report of a forward clock jump: names the reminders that
// fell into it, on the console and in the history.
void OnScheduleSkip(double firstSkipped, double lastSkipped);
// The scheduler's report of the clock set back by `seconds`: said once per
// step, since nothing fires until the clock is past the last firing again
// (or, past three hours, the new time is taken as it is).
void OnClockSetBack(std::int64_t seconds, double lastFired, int takenAsNew);
// "1 小时 5 分 3 秒", the parts that are not 0.
std::string DurationText(std::int64_t seconds);
// The test reminder, composed now, tried once and reported on the console
// and in the history, as every reminder is (the --test action); true when
// the relay took it. Blocks until the verdict.
bool SendTestReminder(const AppContext& ctx);
// Blocks until every queued delivery has ended (for tests and orderly ends).
void WaitForDeliveries();

// The banner of a start: how to quit, where the key and the schedule go.
std::string Banner(const Settings& settings);

}  // namespace app
