// Starting the program with the user's session: a shortcut in the user's
// Startup folder on Windows, a systemd user unit elsewhere.
//
// Any thread may call these, one change at a time: two at once would race
// for the same file. They block while the system works (systemctl on Linux).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/path.h"

namespace rt {

enum class AutostartKind { kStartupShortcut, kUserUnit };
#ifdef _WIN32
inline constexpr AutostartKind kAutostartKind = AutostartKind::kStartupShortcut;
#else
inline constexpr AutostartKind kAutostartKind = AutostartKind::kUserUnit;
#endif

// What the entry starts and what it is called.
struct AutostartProgram {
  Path program;       // the executable
  std::string name;   // ASCII, the unit's name: "reminder" gives reminder.service (Linux only)
  std::string title;  // program text: the shortcut's name ("title.lnk"), the unit's description
};

// The entry as it is on disk.
struct AutostartEntry {
  Path file;                   // the shortcut or unit; empty when its folder is unknown
  bool present = false;        // the file exists
  Path target;                 // the program it starts, when that can be read
  bool startsProgram = false;  // the target is AutostartProgram::program
};
// Looks at the entry without changing anything. A missing or unreadable
// file simply gives present or target empty; nothing here fails.
AutostartEntry FindAutostart(const AutostartProgram& program);

enum class AutostartOutcome {
  kDone,
  kNoFolder,       // the folder of the entry is unknown or cannot be made
  kUnfitPath,      // the program's path cannot go into a unit (not UTF-8; controls, quotes, \ or $)
  kFileFailed,     // the entry could not be written or removed
  kNoManager,      // the file is written or removed, but there is no systemctl to tell
  kManagerFailed,  // the file is written or removed, but systemctl failed
};
struct AutostartResult {
  AutostartOutcome outcome = AutostartOutcome::kDone;
  AutostartEntry before;  // the entry as it was found before the change
  std::string detail;     // kManagerFailed: what systemctl said (its first line)
};

// Writes the entry (replacing one of the same name) and, for a unit, has
// systemd reload its units, enable it and start it now. kDone when every
// step worked, else the outcome of the first that failed. Each systemctl run
// is given 30 s, then ended (kManagerFailed).
AutostartResult EnableAutostart(const AutostartProgram& program);
// Stops and disables a unit, then removes the entry; kDone when there was
// none. The file goes even when systemctl is missing or fails (the outcome
// then says so); kFileFailed when the file itself cannot be removed.
AutostartResult DisableAutostart(const AutostartProgram& program);

// The systemd user unit that starts the program at `path` (its bytes: UTF-8,
// absolute), described by `title` (program text), as UTF-8; nullopt when the
// path cannot be written into one (kUnfitPath). Pure: any thread.
std::optional<std::string> UserUnitText(std::string_view path, std::string_view title);
// The program the first ExecStart line of a unit starts (its first word,
// unquoted, with "%h" as `home` and "%%" as "%"), nullopt without one.
std::optional<std::string> UnitExecStart(std::string_view unitText, std::string_view home);

}  // namespace rt
