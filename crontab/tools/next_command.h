// The crontab-next command: the next times a schedule line fires.
#pragma once

#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/console.h"

namespace cron {

// Runs the command on its arguments (without the program name), writing to
// the console; returns the exit code.
int RunNextCommand(const std::vector<std::string>& args, rt::Clock& clock, rt::Console& console);

}  // namespace cron
