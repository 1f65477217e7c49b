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

#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/path.h"
#include "runtime/text.h"

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
};

// The context the routines below use (the process's own unless set).
AppContext& Context();
void SetContext(AppContext* context);  // nullptr: back to the process's own

// Start step and exit hook of the process frame.
void CreateAppScheduler();
void DestroyAppScheduler();

int ReminderMain();
// The scheduler's callback for the reminder task.
void OnReminderTrigger(double fireTime, const char* taskName);
void SendReminder(double fireTime, const std::string& taskName);
// Sends one reminder and writes its two log lines; a task name given is
// shown in both.
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
// Non-empty lines of the schedule file, or the default line.
std::vector<std::string> ScheduleLines(std::string_view text);

std::string Banner(const Settings& settings);
std::string RequestAddress(const Settings& settings, std::string_view key);
// "yyyy-MM-dd hh:mm:ss", the form of the console's time stamps.
std::string LogStamp(rt::DateTime when);
std::string FormBody(std::string_view title, std::string_view body);

struct Composition {
  std::string title;
  std::string body;
};
// Title and body, each stamp from its own reading of the clock.
Composition ComposeReminder(rt::Clock& clock, std::string_view siteUrl);

struct DeliveryOutcome {
  bool accepted = false;
  std::string detail;  // the second log line: the reply, or why it failed
};
// The verdict on one exchange: accepted only for a 2xx answer whose body is
// a JSON object with a "code" (or "errno") of 0, or neither.
DeliveryOutcome JudgeDelivery(int status, std::int32_t sendResult, const rt::Bytes& answer,
                              std::string_view key);
// A reply made safe for the terminal: at most maxBytes of it (then a mark),
// control characters shown as "?", and the key masked.
std::string SafeReply(std::string_view reply, std::string_view key,
                      std::size_t maxBytes = kShownReplyBytes);

}  // namespace app
