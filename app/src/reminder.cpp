#include "app/reminder.h"

#include "app/exchange.h"
#include "app/first_run.h"
#include "app/history.h"
#include "app/message.h"
#include "app/report.h"
#include "app/schedule_file.h"
#include "application.h"
#include "runtime/datetime_text.h"
#include "runtime/file.h"
#include "runtime/file_lock.h"
#include "runtime/frame.h"

namespace app {
namespace {

constexpr std::string_view kTitle = "鹤溪堂 铃兰小闹钟";
constexpr std::string_view kExitCommand = "q";

}  // namespace

void UseContext(AppContext* context) {
  App().UseContext(context);
}

void CreateAppScheduler() {
  App().CreateScheduler();
}

void DestroyAppScheduler() {
  App().DestroyScheduler();
}

std::string Banner(const Settings& settings) {
  const std::string rule(74, '-');
  return rt::JoinTexts(
      "欢迎使用铃兰小闹钟\r\n", rule, "\r\n", "教程\r\n", "    输入 q 回车 退出\r\n",
      "    weskey.txt 放Server酱自己的微信key 地址:", settings.keyHelpUrl, "\r\n",
      "    time.txt   放定时任务时间 可自定义计划\r\n", rule, "\r\n\r\n", rule, "\r\n\r\n",
      std::string(15, ' '), "鹤溪堂 星河速览:", settings.siteUrl, "\r\n\r\n", rule, "\r\n\r\n");
}

std::string AlreadyRunningText(std::int64_t holder) {
  const std::string process =
      holder > 0 ? rt::JoinTexts("(进程 ", std::to_string(holder), ")") : std::string();
  return rt::JoinTexts("这个文件夹里的铃兰小闹钟已经在运行", process, "，这次不启动\r\n");
}

int ReminderMain() {
  AppContext& ctx = App().Context();
  // One copy per folder: a second would send every reminder again. Held
  // until every delivery is settled; the system drops it with the process.
  const rt::ProcessLock folder = rt::ProcessLock::Take(ProgramFile(ctx, kLockFile));
  if (folder.state() == rt::ProcessLock::State::kTaken) {
    ctx.console->Write(AlreadyRunningText(folder.holder()), rt::Stream::kErr);
    return 1;
  }
  const std::string key = ReadKey(ctx);
  // The stamp first: a change made while the file is read is seen later.
  const rt::FileStamp scheduleStamp = rt::StatFile(ProgramFile(ctx, kScheduleFile));
  // A file too big is not read, at start as on a reload.
  std::optional<std::string> scheduleText;
  if (scheduleStamp.size <= kMaxScheduleBytes) {
    scheduleText = FileText(rt::ReadFileBytes(ProgramFile(ctx, kScheduleFile)).value_or({}));
  }
  App().history().ResetReport();

  ctx.console->SetTitle(kTitle);
  ctx.console->Write(Banner(ctx.settings));

  // A key typed at the prompt is saved and taken as if it had been there;
  // without one the program fails, so that a service manager sees it.
  if (key.empty() && AskForKey(ctx, ProgramFile(ctx, kKeyFile)).empty()) return 1;

  App().Begin(scheduleStamp, scheduleText);

  while (ctx.console->ReadLine() != kExitCommand) {
    if (ctx.console->InputEnded()) rt::WaitForStop();  // deliveries go on until a stop request
    if (ctx.pause) ctx.pause();
  }
  // New reminders, pending retries and the file's watch end here, each
  // retry with its verdict; the process ends soon.
  App().EndRetries();
  ctx.console->Write("已停止发送提醒，再按一次回车退出\r\n");
  ctx.console->ReadLine();  // one more Enter ends the program
  App().EndAll();
  ctx.console->Release();
  return 0;
}

void OnReminderTrigger(double fireTime, const char* taskName) {
  // The tick goes on at once: a slow relay must not hold back the next
  // reminder.
  App().Trigger(fireTime, taskName ? taskName : "");
}

void OnScheduleSkip(double firstSkipped, double lastSkipped) {
  App().ReportMissed(firstSkipped, lastSkipped);
}

std::string DurationText(std::int64_t seconds) {
  const std::int64_t parts[] = {seconds / 3600, seconds / 60 % 60, seconds % 60};
  const char* units[] = {" 小时", " 分", " 秒"};
  std::string text;
  for (int i = 0; i < 3; ++i) {
    if (parts[i] == 0) continue;
    text += rt::JoinTexts(text.empty() ? "" : " ", std::to_string(parts[i]), units[i]);
  }
  return text.empty() ? "0 秒" : text;
}

void OnClockSetBack(std::int64_t seconds, double /*lastFired*/, int takenAsNew) {
  const AppContext& ctx = App().Context();
  ctx.console->Write(rt::JoinTexts("时钟回拨 ", DurationText(seconds),
                                   takenAsNew
                                       ? "，超过 3 小时，从现在的时间起照常提醒\r\n"
                                       : "，已经发送的提醒不会重发，时钟追上之前不会有提醒\r\n"));
}

void WaitForDeliveries() {
  App().WaitIdle();
}

}  // namespace app
