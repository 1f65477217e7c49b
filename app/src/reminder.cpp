#include "app/reminder.h"

#include <atomic>

#include "app/exchange.h"
#include "app/first_run.h"
#include "app/history.h"
#include "app/live.h"
#include "app/message.h"
#include "app/report.h"
#include "app/schedule_file.h"
#include "crontab/crontab.h"
#include "crontab/schedule.h"
#include "deliveries.h"
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

// How long the end of the program waits for tries still running before it
// settles them; within the stop steps' own grace.
constexpr int kEndGraceMs = 500;

// Never destroyed: its workers may outlive the main routine.
Deliveries& Open() {
  static auto* deliveries = new Deliveries(kMaxDeliveriesInFlight);
  return *deliveries;
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

std::shared_ptr<Delivery> NewDelivery(rt::DateTime fireTime, std::string task) {
  AppContext& ctx = Context();
  auto d = std::make_shared<Delivery>();
  d->fireTime = fireTime;
  d->task = std::move(task);
  // The test reminder (no name) says what every reminder said before tasks
  // had messages of their own.
  d->message =
      ComposeReminder(*ctx.clock, ctx.settings.siteUrl, d->task, Live().MessageOf(d->task));
  return d;
}

}  // namespace

std::string ReadKey() {
  return KeyFromFileText(FileText(rt::ReadFileBytes(ProgramFile(kKeyFile))));
}

bool ArrangeRetry(const std::shared_ptr<Delivery>& d, const DeliveryOutcome& outcome,
                  int attempts) {
  const auto delay = RetryDelaySeconds(attempts);
  if (!delay) return false;
  AppContext& ctx = Context();
  // No retry once the task's own next reminder would come first anyway.
  const std::int64_t now = cron::LocalSeconds(ctx.clock->LocalTime());
  if (const auto fired = rt::SystemTimeFromDateTime(d->fireTime)) {
    const auto next = Live().NextFiring(d->task, cron::LocalSeconds(*fired));
    if (next && *next <= now + *delay) return false;
  }
  const bool showTask = Live().TaskCount() > 1;
  const std::string announcement =
      rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)),
                    showTask ? ShownTaskName(d->task) : std::string(), " ", outcome.detail, "，",
                    std::to_string(*delay), " 秒后第 ", std::to_string(attempts), " 次重试\r\n");
  return Live().ScheduleRetry(static_cast<std::uint32_t>(*delay) * 1000, announcement,
                              [d] { Open().Retry(d); });
}

rt::Path ProgramFile(std::string_view name) {
  const AppContext& ctx = Context();
  return (ctx.directory.empty() ? rt::ProgramDirectory() : ctx.directory) / name;
}

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
  Live().End();  // its watch uses the scheduler
  crontab_Destroy(gScheduler);
  delete gScheduler;
  gScheduler = nullptr;
  // No tick comes any more: what is still open gets its verdict now.
  Open().EndAll(kEndGraceMs);
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
  const std::string key = ReadKey();
  // The stamp first: a change made while the file is read is seen later.
  const rt::FileStamp scheduleStamp = rt::StatFile(ProgramFile(kScheduleFile));
  // A file too big is not read, at start as on a reload.
  std::optional<std::string> scheduleText;
  if (scheduleStamp.size <= kMaxScheduleBytes) {
    scheduleText = FileText(rt::ReadFileBytes(ProgramFile(kScheduleFile)));
  }
  ResetHistoryReport();

  ctx.console->SetTitle(kTitle);
  ctx.console->Write(Banner(ctx.settings));

  // A key typed at the prompt is saved and taken as if it had been there.
  if (key.empty() && AskForKey(ctx, ProgramFile(kKeyFile)).empty()) return 0;

  crontab_OnSkip(gScheduler, OnScheduleSkip);
  crontab_OnClockBack(gScheduler, OnClockSetBack);
  Live().Begin(gScheduler, scheduleStamp, scheduleText);
  ctx.console->Write("下面开始测试发送一次\r\n");
  // Off this thread, so that "q" is answered while the relay takes its time;
  // its verdict and "测试完成" follow when it ends.
  const auto test = NewDelivery(rt::NowLocal(*ctx.clock), "");
  test->maxAttempts = 1;
  Open().Start(test);

  while (ctx.console->ReadLine() != kExitCommand) {
    if (ctx.console->InputEnded()) rt::WaitForStop();  // deliveries go on until a stop request
    if (ctx.pause) ctx.pause();
  }
  // Pending retries and the file's watch end here, each retry with its
  // verdict; the process ends soon.
  Live().End();
  Open().EndRetries();
  ctx.console->Write("再按一次回车退出\r\n");
  ctx.console->ReadLine();  // one more Enter ends the program
  Open().EndAll(kEndGraceMs);
  ctx.console->Release();
  return 0;
}

void OnReminderTrigger(double fireTime, const char* taskName) {
  // The tick goes on at once: a slow relay must not hold back the next
  // reminder.
  Open().Start(NewDelivery(fireTime, taskName ? taskName : ""));
}

void OnScheduleSkip(double firstSkipped, double lastSkipped) {
  const auto first = rt::SystemTimeFromDateTime(firstSkipped);
  const auto last = rt::SystemTimeFromDateTime(lastSkipped);
  if (first && last) Live().ReportMissed(cron::LocalSeconds(*first), cron::LocalSeconds(*last));
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
  AppContext& ctx = Context();
  ctx.console->Write(rt::JoinTexts("时钟回拨 ", DurationText(seconds),
                                   takenAsNew
                                       ? "，超过 3 小时，从现在的时间起照常提醒\r\n"
                                       : "，已经发送的提醒不会重发，时钟追上之前不会有提醒\r\n"));
}

void WaitForDeliveries() {
  Open().WaitIdle();
}

void SendReminder(double /*fireTime*/, const std::string& taskName) {
  // Every reminder is made from the key file and the clock as they are now.
  AppContext& ctx = Context();
  const Composition message = ComposeReminder(*ctx.clock, ctx.settings.siteUrl);
  PushReminder(ReadKey(), message.title, message.body, taskName);
}

void PushReminder(const std::string& key, const std::string& title, const std::string& body,
                  std::string_view taskName) {
  const rt::DateTime now = rt::NowLocal(*Context().clock);
  ReportDelivery(Exchange(key, title, body),
                 {.scheduled = now, .task = std::string(taskName), .showTask = !taskName.empty()});
}

}  // namespace app
