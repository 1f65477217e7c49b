// The executable's entry: wires the real platform into the process frame.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/reminder.h"
#include "crontab/crontab.h"
#include "runtime/file.h"
#include "runtime/frame.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(rt::TextFromConsole(argv[i]));
  const app::CommandLine command = app::ParseCommandLine(args);
  if (command.action != app::CommandLine::Action::kRun) {
    return app::RunCommand(command, rt::SystemConsole(), rt::SystemClock(), rt::ProgramDirectory());
  }
  rt::AddLibraryModule(crontab_ProcessNotifyLib);
  rt::RuntimeStartup();
  rt::ProgramStart({.start = app::CreateAppScheduler,
                    .exitHook = app::DestroyAppScheduler,
                    .main = app::ReminderMain});
}
