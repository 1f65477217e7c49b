#include "app/command_line.h"

#include <set>

#include "app/context.h"
#include "app/exchange.h"
#include "app/first_run.h"
#include "app/live.h"
#include "app/message.h"
#include "app/reminder.h"
#include "app/report.h"
#include "app/schedule_file.h"
#include "app/week_grid.h"
#include "application.h"
#include "autostart.h"
#include "crontab/explain.h"
#include "deliveries.h"
#include "runtime/datetime_text.h"
#include "runtime/file.h"
#include "runtime/text.h"

namespace app {
namespace {

using Action = CommandLine::Action;

std::string Quoted(std::string_view text) {
  return rt::JoinTexts("\"", rt::ShownText(text, 60), "\"");
}

// The start-up test message, once: 0 when the relay took it.
int DeliverTestReminder(const AppContext& ctx) {
  const rt::Path keyPath = ProgramFile(ctx, kKeyFile);
  if (ReadKey(ctx).empty()) {
    ctx.console->Write(NoKeyText(keyPath), rt::Stream::kErr);
    return 1;
  }
  return SendTestReminder(ctx) ? 0 : 1;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  auto error = [&](std::string_view what) {
    c = CommandLine{};
    c.action = Action::kError;
    c.error = rt::JoinTexts(what, "，用 --help 查看用法");
    return c;
  };
  if (args.empty()) return c;
  std::size_t used = 1;
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "/?") {
    c.action = Action::kHelp;
  } else if (first == "--version") {
    c.action = Action::kVersion;
  } else if (first == "--test") {
    c.action = Action::kTest;
  } else if (first == "--autostart") {
    c.action = Action::kAutostart;
    if (args.size() < 2) return error("--autostart 后面要写 on、off 或 status");
    const std::string& how = args[used++];
    if (how == "on") {
      c.autostart = CommandLine::Autostart::kOn;
    } else if (how == "off") {
      c.autostart = CommandLine::Autostart::kOff;
    } else if (how != "status") {
      return error(rt::JoinTexts("--autostart 后面要写 on、off 或 status，不是 ", Quoted(how)));
    }
  } else if (first == "--check") {
    c.action = Action::kCheck;
    // A word that starts with "-" is never taken for the file.
    if (args.size() > 1 && !args[1].starts_with('-')) c.file = args[used++];
  } else if (first.starts_with('-')) {
    return error(rt::JoinTexts("未知选项 ", Quoted(first)));
  } else {
    return error(rt::JoinTexts("多余的参数 ", Quoted(first)));
  }
  if (args.size() > used) return error(rt::JoinTexts("多余的参数 ", Quoted(args[used])));
  return c;
}

std::string HelpText() {
  return "铃兰小闹钟: 按计划通过 Server酱 把提醒推送到微信\r\n"
         "\r\n"
         "用法: reminder [选项]\r\n"
         "  (不带选项)      读取程序旁的 weskey.txt (key) 和 time.txt (计划)，开始运行\r\n"
         "  --check [文件]  检查计划文件 (默认: 程序旁的 time.txt)，每行显示 OK 和\r\n"
         "                  接下来三次触发时间，或者错在第几项、错在哪里；\r\n"
         "                  然后是从今天起 7 天每小时的提醒次数\r\n"
         "  --test          用 weskey.txt 的 key 发送一条测试消息 (不重试)，\r\n"
         "                  推送成功退出码为 0，否则为 1\r\n"
         "  --autostart on|off|status\r\n"
         "                  登录时自动运行本程序: 设置、取消或查看\r\n"
         "  --help          显示本说明\r\n"
         "  --version       显示版本\r\n"
         "\r\n"
         "计划每行: 秒 分 时 日 月 星期 年 任务名 [消息] (各用一个空格隔开)\r\n";
}

std::string VersionText() {
  return rt::JoinTexts("铃兰小闹钟 reminder ", REMINDER_VERSION, "\r\n");
}

std::vector<std::string> RefusalReasons(const std::vector<std::string>& lines,
                                        const rt::SystemTime& now, const cron::LocalZone& zone) {
  // The scheduler sees each line without its message.
  std::vector<std::string> schedules;
  schedules.reserve(lines.size());
  for (const std::string& line : lines) schedules.push_back(SplitTaskLine(line).schedule);
  std::vector<std::string> reasons;
  reasons.reserve(lines.size());
  for (auto& verdict : cron::JudgeLines(schedules, now, zone)) {
    reasons.push_back(std::move(verdict.reason));
  }
  return reasons;
}

ScheduleCheck CheckSchedule(std::string_view fileText, const rt::SystemTime& now,
                            const cron::LocalZone& zone) {
  ScheduleCheck check;
  std::string& out = check.report;
  if (fileText.find_first_not_of("\r\n") == std::string_view::npos) {
    out += "文件为空或不存在，程序会使用默认计划:\r\n";
  } else if (TaskLines(fileText).empty()) {
    out += "文件里只有注释或空行，程序会使用默认计划:\r\n";
  }
  const std::vector<std::string> lines = ScheduleLines(fileText);
  // The verdicts the running program reaches, a line that never fires
  // again refused too.
  const std::vector<std::string> reasons = RefusalReasons(lines, now, zone);
  int refused = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TaskLine task = SplitTaskLine(lines[i]);
    const std::string& line = task.schedule;
    const std::string& reason = reasons[i];
    std::vector<rt::SystemTime> times;
    if (reason.empty()) times = cron::Schedule::Parse(line, now.year)->NextFirings(now, 3, zone);
    if (!reason.empty()) {
      ++refused;
      out +=
          rt::JoinTexts("错误 ", rt::ShownText(line, kShownLineBytes), "\r\n     ", reason, "\r\n");
      continue;
    }
    out += rt::JoinTexts("OK   ", rt::ShownText(line, kShownLineBytes), "\r\n     ");
    for (std::size_t k = 0; k < times.size(); ++k) {
      out += rt::JoinTexts(k ? "  " : "", rt::SystemTimeText(times[k]));
    }
    out += "\r\n";
    if (!task.message.empty())
      out += rt::JoinTexts("     消息: ", rt::ShownText(task.message, kShownLineBytes), "\r\n");
  }
  check.allAccepted = refused == 0;
  out += refused == 0 ? rt::JoinTexts("共 ", std::to_string(lines.size()), " 行，全部可用\r\n")
                      : rt::JoinTexts("共 ", std::to_string(lines.size()), " 行，",
                                      std::to_string(refused), " 行有错误，运行时会跳过\r\n");
  return check;
}

int RunCommand(const CommandLine& command, rt::Console& console, rt::Clock& clock,
               const rt::Path& programDirectory) {
  switch (command.action) {
    case Action::kRun:
      return 0;
    case Action::kHelp:
      console.Write(HelpText());
      return 0;
    case Action::kVersion:
      console.Write(VersionText());
      return 0;
    case Action::kError:
      console.Write(rt::JoinTexts("reminder: ", command.error, "\r\n"), rt::Stream::kErr);
      return 2;
    case Action::kTest: {
      // This console, clock and folder, with the program's settings.
      AppContext ctx = App().Context();
      ctx.console = &console;
      ctx.clock = &clock;
      ctx.directory = programDirectory;
      return DeliverTestReminder(ctx);
    }
    case Action::kAutostart:
      return RunAutostart(command.autostart, console);
    case Action::kCheck:
      break;
  }
  const rt::Path path =
      command.file.empty() ? programDirectory / kScheduleFile : rt::Path::FromText(command.file);
  console.Write(rt::JoinTexts("检查计划文件: ", ShownPath(path), "\r\n"));
  // A file named on the command line must be there: a slip of the pen is
  // not the default schedule. Beside the program a missing time.txt is.
  const rt::FileStamp stamp = rt::StatFile(path);
  if (stamp.size > kMaxScheduleBytes) {
    console.Write(rt::JoinTexts("错误: 文件超过 ", ScheduleLimitText(), "，程序不会读取它\r\n"));
    return 1;
  }
  const auto read = rt::ReadFileBytes(path);
  if (!command.file.empty() && !read) {
    console.Write("错误: 无法读取这个文件 (不存在、是文件夹或没有权限)\r\n");
    return 1;
  }
  const std::string text = FileText(read.value_or({}));
  const rt::SystemTime now = clock.LocalTime();
  const cron::LocalZone zone(clock);
  const ScheduleCheck check = CheckSchedule(text, now, zone);
  console.Write(check.report);
  console.Write(WeekReport(ScheduleLines(text), now, zone));
  return check.allAccepted ? 0 : 1;
}

}  // namespace app
