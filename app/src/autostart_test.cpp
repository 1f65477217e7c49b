#include "autostart.h"

#include <gtest/gtest.h>

namespace app {
namespace {

using Autostart = CommandLine::Autostart;
using rt::AutostartKind;
using rt::AutostartOutcome;

rt::AutostartResult Result(AutostartOutcome outcome, bool present, bool startsProgram = false,
                           const std::string& target = "/x/reminder") {
  rt::AutostartResult r;
  r.outcome = outcome;
  r.before.file = rt::Path::FromText("/home/me/.config/systemd/user/reminder.service");
  r.before.present = present;
  r.before.startsProgram = startsProgram;
  if (present) r.before.target = rt::Path::FromText(target);
  r.detail = "Failed to connect to bus";
  return r;
}

// What the black-box runs cannot bring about (a shortcut replaced, the
// failures): one line each, its exit code, and what to run by hand when
// systemctl did not do it.
TEST(AutostartReport, OneLineAndTheExitCode) {
  struct Case {
    Autostart action;
    rt::AutostartResult result;
    AutostartKind kind;
    int exitCode;
    std::string part;
  } cases[] = {
      {Autostart::kOn, Result(AutostartOutcome::kDone, true), AutostartKind::kStartupShortcut, 0,
       "已更新启动文件夹里的快捷方式"},
      {Autostart::kOn, Result(AutostartOutcome::kManagerFailed, false), AutostartKind::kUserUnit, 1,
       "systemctl 出错 (Failed to connect to bus)，请运行: systemctl --user daemon-reload"},
      {Autostart::kOn, Result(AutostartOutcome::kNoFolder, false), AutostartKind::kStartupShortcut,
       1, "找不到启动文件夹"},
      {Autostart::kOn, Result(AutostartOutcome::kUnfitPath, false), AutostartKind::kUserUnit, 1,
       "请把程序放到别的文件夹: /apps/a$b/reminder"},
      {Autostart::kOn, Result(AutostartOutcome::kFileFailed, false), AutostartKind::kUserUnit, 1,
       "没能写入 "},
      {Autostart::kOff, Result(AutostartOutcome::kManagerFailed, true), AutostartKind::kUserUnit, 1,
       "程序可能还在后台运行"},
      {Autostart::kOff, Result(AutostartOutcome::kFileFailed, true), AutostartKind::kUserUnit, 1,
       "没能删除 "},
      {Autostart::kStatus, Result(AutostartOutcome::kDone, true, false, ""),
       AutostartKind::kUserUnit, 1, "没有写明启动哪个程序"},
  };
  const rt::Path program = rt::Path::FromText("/apps/a$b/reminder");
  for (const auto& c : cases) {
    const AutostartReply reply = AutostartReport(c.action, c.result, c.kind, program);
    EXPECT_EQ(reply.exitCode, c.exitCode) << reply.line;
    EXPECT_NE(reply.line.find(c.part), std::string::npos) << reply.line;
    EXPECT_EQ(reply.line.find("\r\n"), reply.line.size() - 2) << reply.line;
  }
}

}  // namespace
}  // namespace app
