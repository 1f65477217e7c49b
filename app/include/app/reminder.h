// The reminder application: files, banner, schedule, deliveries and the
// console loop. The executable's entry only wires the real platform; tests
// run the same routines with an injected console, clock, folder and relay.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/message.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/path.h"
#include "runtime/text.h"
#include "runtime/timer_queue.h"

namespace app {

struct Settings {
  std::string pushBaseUrl;  // ends in "/"; the key follows it directly
  std::string keyHelpUrl;
  std::string siteUrl;  // no trailing slash
};
// The values the build was configured with.
Settings DefaultSettings();

// What the application touches of the outside world.
struct AppContext {
  rt::Console* console = &rt::SystemConsole();
  rt::Clock* clock = &rt::SystemClock();
  rt::Path directory{};  // folder of weskey.txt and time.txt; empty = the program's own
  Settings settings = DefaultSettings();
  // Opens the key file for editing; its result is not reported.
  std::function<bool(const rt::Path& keyPath)> openEditor;
  // The pause between console lines.
  std::function<void()> pause;
  // Time-out of a whole delivery; unset: kDeliveryTimeoutSeconds.
  std::optional<int> timeoutSeconds{};
  // Timers of the schedule file's watch and of retries; nullptr: a queue of
  // the program's own.
  rt::TimerQueue* timers = nullptr;
};

// The context the routines below use (the process's own unless set).
AppContext& Context();
void SetContext(AppContext* context);  // nullptr: back to the process's own

// A file in the folder of weskey.txt and time.txt. Every path the running
// program uses is made here.
rt::Path ProgramFile(std::string_view name);

// Start step and exit hook of the process frame.
void CreateAppScheduler();
void DestroyAppScheduler();

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
// One reminder, one attempt (the test reminder at start).
void SendReminder(double fireTime, const std::string& taskName);
// Sends one reminder, writes its two log lines and its history line; a task
// name given is shown in both.
void PushReminder(const std::string& key, const std::string& title, const std::string& body,
                  std::string_view taskName = {});
// Blocks until every queued delivery has ended (for tests and orderly ends).
void WaitForDeliveries();

// --- Pieces, exposed for tests ---

inline constexpr std::string_view kDefaultScheduleLine =
    "1 1 8,10,11,12,13,14,15,17,19,21,22,23 * * * * 定时提醒";

// Bounds of one delivery.
inline constexpr int kDeliveryTimeoutSeconds = 15;
inline constexpr std::size_t kMaxReplyBytes = 1 << 20;
inline constexpr std::size_t kShownReplyBytes = 2048;
inline constexpr int kMaxDeliveriesInFlight = 8;

// File contents as text: UTF-16 with a byte-order mark (either order) is
// converted; otherwise a UTF-8 byte-order mark is dropped, valid UTF-8
// holding non-ASCII bytes is converted, anything else is code page 936; the
// text ends at the first zero.
std::string FileText(const rt::Bytes& bytes);
// The key without the blanks (full-width ones too), tabs and line ends
// around it.
std::string KeyFromFileText(std::string_view text);
// The task lines of a schedule file: every line but blank ones and comments
// (the first non-blank character is "#"), unchanged.
std::vector<std::string> TaskLines(std::string_view text);
// The task lines, or the default line when there are none.
std::vector<std::string> ScheduleLines(std::string_view text);

std::string Banner(const Settings& settings);
std::string RequestAddress(const Settings& settings, std::string_view key);
// "yyyy-MM-dd hh:mm:ss", the form of the console's time stamps.
std::string LogStamp(rt::DateTime when);

struct DeliveryOutcome {
  bool accepted = false;
  std::string detail;  // the second log line: the reply, or why it failed
  int status = 0;      // the HTTP status; 0 when no answer came
  // Worth another try: no answer (no name, no connection, connection
  // closed, time-out), 429 or 5xx. Never a refusal.
  bool retry = false;
};
// The verdict on one exchange: accepted only for a 2xx answer whose body is
// a JSON object with a "code" (or "errno") of 0, or neither.
DeliveryOutcome JudgeDelivery(int status, std::int32_t sendResult, const rt::Bytes& answer,
                              std::string_view key);
// One exchange with the relay, judged; writes nothing.
DeliveryOutcome Exchange(const std::string& key, const std::string& title, const std::string& body);

// What the report of a delivery names.
struct DeliveryRecord {
  rt::DateTime scheduled = 0;
  std::string task;       // "": the test reminder
  bool showTask = false;  // on the console, where only several tasks are told apart
  int attempts = 1;
};
// The history's name for the test reminder.
inline constexpr std::string_view kTestTaskName = "(测试)";
// " [name]" for a task name, "" for none.
std::string ShownTaskName(std::string_view taskName);
// The two console lines of the final verdict, and the history line.
void ReportDelivery(const DeliveryOutcome& outcome, const DeliveryRecord& record);

// Seconds to wait before the next try after `attempts` tries have failed
// worth retrying: 10, then 30; nullopt: no more tries.
std::optional<int> RetryDelaySeconds(int attempts);
// A reply made safe for the terminal: at most maxBytes of it (then a mark),
// control characters shown as "?", and the key masked.
std::string SafeReply(std::string_view reply, std::string_view key,
                      std::size_t maxBytes = kShownReplyBytes);

}  // namespace app
