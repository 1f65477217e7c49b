// crontab-next: prints the next times a schedule line fires, so a line can be
// checked before it goes into time.txt.
//
//   crontab-next [--from "YYYY-MM-DD hh:mm:ss"] [--count N] LINE
//
// LINE is a time.txt line (its message is allowed and ignored), or seven
// fields alone. Times strictly after --from (default: now), one per line. A
// refused line, or one that never fires again: the reason in Chinese on
// standard error, exit code 1, as for a wrong option. No time inside a
// daylight-saving gap is printed.
#include <string>
#include <vector>

#include "next_command.h"

int main(int argc, char** argv) {
  return cron::RunNextCommand(std::vector<std::string>(argv + 1, argv + argc), rt::SystemClock(),
                              rt::SystemConsole());
}
