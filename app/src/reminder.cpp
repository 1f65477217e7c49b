#include "app/reminder.h"

#include <atomic>

#include "app/first_run.h"
#include "crontab/crontab.h"
#include "crontab/schedule.h"
#include "delivery_queue.h"
#include "runtime/codepage.h"
#include "runtime/datetime_text.h"
#include "runtime/file.h"
#include "runtime/frame.h"
#include "runtime/value.h"

namespace app {
namespace {

constexpr std::string_view kTitle = "鹤溪堂 铃兰小闹钟";
constexpr std::string_view kExitCommand = "q";

crontab_handle* gScheduler = nullptr;
std::atomic<AppContext*> gContext{nullptr};
// Deliveries name their task when there is more than one.
std::atomic<int> gTaskCount{0};

// Never destroyed: its workers may outlive the main routine.
DeliveryQueue& Deliveries() {
  static auto* queue = new DeliveryQueue(kMaxDeliveriesInFlight);
  return *queue;
}

AppContext& ProcessContext() {
  static AppContext context{
      .openEditor = [](const rt::Path& path) { return rt::OpenTextEditor(path); },
      .pause =
          [] {
            rt::DelayWithMessages(300, 0);
            rt::ProcessPendingMessages();
          },
  };
  return context;
}

rt::Path Directory() {
  const AppContext& ctx = Context();
  return ctx.directory.empty() ? rt::ProgramDirectory() : ctx.directory;
}

// Adds each schedule line, confirming or reporting it, and tells when the
// first reminder will come.
void InstallSchedule(std::string_view scheduleText) {
  AppContext& ctx = Context();
  const rt::SystemTime now = ctx.clock->LocalTime();
  std::optional<rt::SystemTime> first;
  int added = 0;
  for (const std::string& line : ScheduleLines(scheduleText)) {
    if (crontab_Add(gScheduler, line.c_str(), OnReminderTrigger) == 0) {
      ctx.console->Write(
          rt::JoinTexts("任务添加失败(格式错误或任务名重复): ", rt::PrintableText(line), "\r\n"));
      continue;
    }
    ++added;
    ctx.console->Write(rt::JoinTexts("任务已添加", rt::PrintableText(line), "\r\n\r\n\r\n"));
    if (auto schedule = cron::Schedule::Parse(line, now.year)) {
      const auto next = schedule->NextAfter(now);
      if (next && (!first || cron::LocalSeconds(*next) < cron::LocalSeconds(*first))) first = next;
    }
  }
  gTaskCount.store(added);
  crontab_Start(gScheduler);
  if (first) {
    ctx.console->Write(rt::JoinTexts("下次提醒: ", rt::SystemTimeText(*first), "\r\n"));
  }
}

}  // namespace

AppContext& Context() {
  AppContext* ctx = gContext.load(std::memory_order_acquire);
  return ctx ? *ctx : ProcessContext();
}

void SetContext(AppContext* context) {
  gContext.store(context, std::memory_order_release);
}

void CreateAppScheduler() {
  gScheduler = new crontab_handle{};
  crontab_Intialize(gScheduler);
}

void DestroyAppScheduler() {
  if (!gScheduler) return;
  crontab_Destroy(gScheduler);
  delete gScheduler;
  gScheduler = nullptr;
}

std::string Banner(const Settings& settings) {
  const std::string rule(74, '-');
  return rt::JoinTexts(
      "欢迎使用铃兰小闹钟\r\n", rule, "\r\n", "教程\r\n", "    输入 q 回车 退出\r\n",
      "    weskey.txt 放Server酱自己的微信key 地址:", settings.keyHelpUrl, "\r\n",
      "    time.txt   放定时任务时间 可自定义计划\r\n", rule, "\r\n\r\n", rule, "\r\n\r\n",
      std::string(15, ' '), "鹤溪堂 星河速览:", settings.siteUrl, "\r\n\r\n", rule, "\r\n\r\n");
}

int ReminderMain() {
  AppContext& ctx = Context();
  const rt::Path dir = Directory();
  const std::string key = KeyFromFileText(FileText(rt::ReadFileBytes(dir / "weskey.txt")));
  const std::string scheduleText = FileText(rt::ReadFileBytes(dir / "time.txt"));

  ctx.console->SetTitle(kTitle);
  ctx.console->Write(Banner(ctx.settings));

  // A key typed at the prompt is saved and taken as if it had been there.
  if (key.empty() && AskForKey(ctx, dir / "weskey.txt").empty()) return 0;

  InstallSchedule(scheduleText);
  ctx.console->Write("下面开始测试发送一次\r\n");
  SendReminder(rt::NowLocal(*ctx.clock), "");
  ctx.console->Write("测试完成\r\n");

  while (ctx.console->ReadLine() != kExitCommand) {
    if (ctx.console->InputEnded()) rt::WaitForStop();  // deliveries go on until a stop request
    if (ctx.pause) ctx.pause();
  }
  ctx.console->Write("再按一次回车退出\r\n");
  ctx.console->ReadLine();  // one more Enter ends the program
  ctx.console->Release();
  return 0;
}

void OnReminderTrigger(double fireTime, const char* taskName) {
  // The tick goes on at once: a slow relay must not hold back the next
  // reminder.
  Deliveries().Post(
      [fireTime, name = std::string(taskName ? taskName : "")] { SendReminder(fireTime, name); });
}

void WaitForDeliveries() {
  Deliveries().WaitIdle();
}

void SendReminder(double /*fireTime*/, const std::string& taskName) {
  // Every reminder is made from the key file and the clock as they are now.
  AppContext& ctx = Context();
  const std::string key = KeyFromFileText(FileText(rt::ReadFileBytes(Directory() / "weskey.txt")));
  const Composition message = ComposeReminder(*ctx.clock, ctx.settings.siteUrl);
  PushReminder(key, message.title, message.body, gTaskCount.load() > 1 ? taskName : "");
}

}  // namespace app
