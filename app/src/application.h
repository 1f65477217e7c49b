// The running program's owner: its context, the scheduler, the live
// schedule, the deliveries, the history and the timers of the file's watch
// and of the retries, from CreateAppScheduler to DestroyAppScheduler. The
// scheduler's callbacks are plain functions; they reach the program through
// App(), the one process-wide object. A firing's own path is in
// deliveries.h.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/context.h"
#include "app/history.h"
#include "app/live.h"
#include "crontab/crontab.h"
#include "deliveries.h"
#include "runtime/file.h"
#include "runtime/timer_queue.h"

namespace app {

class Application {
 public:
  Application();

  // What the program touches of the outside world: the process's own
  // unless a test gave another.
  AppContext& Context() { return *context_.load(std::memory_order_acquire); }
  void UseContext(AppContext* context) {
    context_.store(context ? context : &own_, std::memory_order_release);
  }
  History& history() { return history_; }

  // The scheduler, made at the start step and destroyed at the exit hook;
  // what is still open then gets its verdict.
  void CreateScheduler();
  void DestroyScheduler();

  // Applies the schedule read at start, with the seconds reminder.log
  // records as sent by an earlier run taken as done; starts the watch of
  // time.txt and sends the test reminder.
  void Begin(const rt::FileStamp& scheduleStamp, std::optional<std::string_view> scheduleText);
  // After "q": no new reminder, no look at the file and no retry any more;
  // the firings that wait for a retry get their verdict, tries under way go
  // on to theirs.
  void EndRetries();
  // Waits a little for tries still running, then settles what is open.
  void EndAll();

  void Trigger(rt::DateTime fireTime, std::string task);
  void ReportMissed(rt::DateTime firstSkipped, rt::DateTime lastSkipped);
  void WaitIdle() { deliveries_.WaitIdle(); }

 private:
  void EndTimers();

  // Tries and timers may outlive the main routine, so nothing here is ever
  // destroyed (see App()).
  AppContext own_;
  std::atomic<AppContext*> context_{&own_};
  History history_;
  crontab_handle* scheduler_ = nullptr;
  LiveSchedule live_;
  Deliveries deliveries_;
  std::unique_ptr<rt::TimerQueue> ownTimers_;  // when the context brings none
};

// The program's one: never destroyed, as tries and timers may outlive the
// main routine.
Application& App();

}  // namespace app
