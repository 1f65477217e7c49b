// What one reminder says: the task line's own message, the title and body
// made from it, and the form the relay reads them from.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/clock.h"

namespace app {

// The default task's name: its reminders keep the hourly-sale texts.
inline constexpr std::string_view kDefaultTaskName = "定时提醒";

// The relay's limits: characters of a title (UTF-16 units, so an emoji
// counts two), bytes (UTF-8) of a body.
inline constexpr std::size_t kMaxTitleChars = 32;
inline constexpr std::size_t kMaxBodyBytes = 32 * 1024;

// A task line cut where the scheduler's part ends: seven time fields and a
// name, then the task's own message (cron::SplitTaskLine). Blanks after the
// name with no message text are dropped; a line without a name is kept
// whole, so the scheduler judges it exactly as written.
struct TaskLine {
  std::string schedule;  // what the scheduler gets
  std::string name;      // its eighth item ("" when it has fewer)
  std::string message;   // after the name and one blank, trailing blanks trimmed
  // The line as the program takes it: lines equal in this form are one task.
  std::string Text() const;
};
TaskLine SplitTaskLine(std::string_view line);

struct Composition {
  std::string title;
  std::string body;
};
// Title and body, each stamp from its own reading of the clock. The test
// reminder (no name) and the default task without a message announce the
// hourly sale; another task adds its name to that title; a task with a
// message sends it, its name and the time.
Composition ComposeReminder(rt::Clock& clock, std::string_view siteUrl,
                            std::string_view taskName = {}, std::string_view message = {});

// The relay's form, "text=...&desp=...", each value UTF-8 and percent-encoded.
std::string FormBody(std::string_view title, std::string_view body);

}  // namespace app
