// The program's command line: --help, --version, --check [FILE], --test and
// --autostart on|off|status.
// Without arguments the program runs as usual; it reads nothing but its two
// files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "crontab/explain.h"
#include "crontab/schedule.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/path.h"

namespace app {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kCheck, kTest, kAutostart, kError };
  enum class Autostart { kOn, kOff, kStatus };
  Action action = Action::kRun;
  std::string file;  // kCheck: the schedule file; "" = time.txt beside the program
  Autostart autostart = Autostart::kStatus;  // kAutostart: what to do
  std::string error;                         // kError: one line saying what is wrong
};

// The arguments after the program's name, as program text.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Carries out any action but kRun; returns the process's exit code: 0 done,
// 1 a schedule with refused lines or lines that never fire again, a FILE
// that cannot be read, a test message the relay did not take, or a start
// with the session that is not (or could not be) set for this copy; 2 a
// command line that makes no sense.
int RunCommand(const CommandLine& command, rt::Console& console, rt::Clock& clock,
               const rt::Path& programDirectory);

std::string HelpText();
std::string VersionText();

struct ScheduleCheck {
  std::string report;
  bool allAccepted = true;
};
// The --check report on a schedule file's text, read as the program reads it:
// each line with "OK", its next three firing times (none in a zone's
// daylight-saving gap) and its message, or why it is refused or never
// fires again.
ScheduleCheck CheckSchedule(std::string_view fileText, const rt::SystemTime& now,
                            const cron::LocalZone& zone = cron::LocalZone());

// Why each line of a schedule is refused at a fresh start at `now`, "" for a
// line that is installed: its fault, that it never fires again, or that its
// name repeats an earlier task's. The --check report, the start and the
// reload all say it this way.
std::vector<std::string> RefusalReasons(const std::vector<std::string>& lines,
                                        const rt::SystemTime& now,
                                        const cron::LocalZone& zone = cron::LocalZone());

// Why a line is refused, in the console's words ("第 2 项(分) ...").
using cron::RefusalText;

}  // namespace app
