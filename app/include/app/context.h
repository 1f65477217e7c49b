// What the application touches of the outside world. The running program
// has one (App() holds it); tests and the command-line actions make their
// own, with a console, clock and folder of theirs.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/path.h"
#include "runtime/timer_queue.h"

namespace app {

struct AppContext {
  rt::Console* console = &rt::SystemConsole();
  rt::Clock* clock = &rt::SystemClock();
  rt::Path directory{};  // folder of weskey.txt and time.txt; empty = the program's own
  Settings settings = DefaultSettings();
  // Opens the key file for editing; its result is not reported.
  std::function<bool(const rt::Path& keyPath)> openEditor;
  // The pause between console lines.
  std::function<void()> pause;
  // Time-out of one exchange; unset: kExchangeTimeoutSeconds.
  std::optional<int> timeoutSeconds{};
  // Timers of the schedule file's watch and of retries; nullptr: a queue of
  // the program's own.
  rt::TimerQueue* timers = nullptr;
};

// How much of a text from outside the console shows (rt::ShownText).
inline constexpr std::size_t kShownLineBytes = 200;  // a task line, a name, a reason
inline constexpr std::size_t kShownPathBytes = 400;  // a path
// A path as the console shows it: one line, at most kShownPathBytes.
std::string ShownPath(const rt::Path& path);

// A file in the context's folder of weskey.txt and time.txt. Every path the
// program uses is made here.
rt::Path ProgramFile(const AppContext& ctx, std::string_view name);
// The key as weskey.txt holds it now.
std::string ReadKey(const AppContext& ctx);

}  // namespace app
