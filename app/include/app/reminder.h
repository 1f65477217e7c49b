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
  // Time-out of a delivery; unset: the web request's own default.
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
void PushReminder(const std::string& key, const std::string& title, const std::string& body);

// --- Pieces, exposed for tests ---

inline constexpr std::string_view kDefaultScheduleLine =
    "1 1 8,10,11,12,13,14,15,17,19,21,22,23 * * * * 定时提醒";

// File contents as text: a UTF-8 byte-order mark is dropped, valid UTF-8
// holding non-ASCII bytes is converted, anything else is code page 936; the
// text ends at the first zero byte.
std::string FileText(const rt::Bytes& bytes);
// The key without the blanks, tabs and line ends around it.
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

// Whether a relay answer means the message was accepted: a 2xx status and a
// "code" of 0 or none in the reply.
bool DeliveryAccepted(int status, std::string_view reply);
// A reply made safe for the terminal: control characters other than line
// breaks and tabs become "?", and the key is masked.
std::string SafeReply(std::string_view reply, std::string_view key);

}  // namespace app
