// The executable's entry: wires the real platform into the process frame.
#include "app/reminder.h"
#include "crontab/crontab.h"
#include "runtime/frame.h"

int main() {
  rt::AddLibraryModule(crontab_ProcessNotifyLib);
  rt::RuntimeStartup();
  rt::ProgramStart({.start = app::CreateAppScheduler,
                    .exitHook = app::DestroyAppScheduler,
                    .main = app::ReminderMain});
}
