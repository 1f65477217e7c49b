// crontab-next: prints the next times a schedule line fires, so a line can be
// checked before it goes into time.txt.
//
//   crontab-next [--from "YYYY-MM-DD hh:mm:ss"] [--count N] LINE
//
// Times strictly after --from (default: now), one per line; seven fields
// without a task name are fine. A refused line, or one that never fires
// again: the reason on standard error, exit code 1. No time inside a
// daylight-saving gap is printed.
#include <string>
#include <vector>

#include "next_command.h"

int main(int argc, char** argv) {
  return cron::RunNextCommand(std::vector<std::string>(argv + 1, argv + argc), rt::SystemClock(),
                              rt::SystemConsole());
}
