// --autostart: the program started with the user's session, said in one line.
#pragma once

#include <string>

#include "app/command_line.h"
#include "runtime/autostart.h"
#include "runtime/console.h"

namespace app {

// What the entry is called: reminder.service, and the shortcut 铃兰小闹钟.lnk.
inline constexpr std::string_view kAutostartName = "reminder";
inline constexpr std::string_view kAutostartTitle = "铃兰小闹钟";

struct AutostartReply {
  std::string line;  // one line, with its line end
  int exitCode = 0;
};
// The line for what was done (on and off: a change's result; status: the
// entry as found, in result.before).
AutostartReply AutostartReport(CommandLine::Autostart action, const rt::AutostartResult& result,
                               rt::AutostartKind kind, const rt::Path& program);

// Carries out --autostart for this program; its exit code.
int RunAutostart(CommandLine::Autostart action, rt::Console& console);

}  // namespace app
