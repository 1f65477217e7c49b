#include "crontab_object.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <random>
#include <thread>

#include "dst_clock.h"
#include "inspector.h"
#include "reference_matcher.h"
#include "runtime/datetime_text.h"
#include "sim_time.h"

namespace cron {
namespace {

class FakeClock final : public rt::Clock {
 public:
  rt::SystemTime LocalTime() override {
    std::lock_guard lock(mutex_);
    ++reads_;
    return now_;
  }
  void Set(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    std::lock_guard lock(mutex_);
    now_ = TimeFromLocalSeconds(LocalSeconds({y, mo, 0, d, h, mi, s, 0}));
    now_.milliseconds = ms;
  }
  int reads() {
    std::lock_guard lock(mutex_);
    return reads_;
  }

 private:
  std::mutex mutex_;
  rt::SystemTime now_ = TimeFromLocalSeconds(LocalSeconds({2026, 3, 1, 0, 10, 0, 0, 0}));
  int reads_ = 0;
};

// What the callbacks saw, in order.
struct Fired {
  std::mutex mutex;
  std::vector<std::string> events;
};
Fired fired;

std::string Clock(double fireTime) {
  const auto t = rt::SystemTimeFromDateTime(fireTime);
  char buffer[32];
  (void)std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t->hour, t->minute, t->second);
  return buffer;
}

void Record(double fireTime, const char* taskName) {
  std::lock_guard lock(fired.mutex);
  fired.events.push_back(std::string(taskName) + "@" + Clock(fireTime));
}

// A callback that blocks until the test opens its gate.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool entered = false;
  bool open = false;
};
Gate gate;

void CloseGate() {
  std::lock_guard lock(gate.mutex);
  gate.entered = gate.open = false;
}
void OpenGate() {
  std::lock_guard lock(gate.mutex);
  gate.open = true;
  gate.cv.notify_all();
}
void WaitUntilEntered() {
  std::unique_lock lock(gate.mutex);
  gate.cv.wait(lock, [] { return gate.entered; });
}

void Blocking(double fireTime, const char* taskName) {
  std::unique_lock lock(gate.mutex);
  gate.entered = true;
  gate.cv.notify_all();
  gate.cv.wait(lock, [] { return gate.open; });
  lock.unlock();
  Record(fireTime, taskName);  // the name is still valid after a teardown
}

class CrontabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard lock(fired.mutex);
    fired.events.clear();
    clock.Set(2026, 3, 1, 10, 0, 0, 500);
  }

  std::unique_ptr<crontab> Make() {
    return std::make_unique<crontab>(clock, [this] {
      ++queuesMade;
      return std::make_unique<rt::testing::SimQueue>(timers);
    });
  }

  // Fires the newest timer at the given time of 2026-03-01.
  void TickAt(int h, int mi, int s, int ms = 5) {
    clock.Set(2026, 3, 1, h, mi, s, ms);
    ASSERT_TRUE(timers.Fire());
  }

  std::vector<std::string> TakeEvents() {
    std::lock_guard lock(fired.mutex);
    return std::exchange(fired.events, {});
  }

  FakeClock clock;
  // Time stands still for the timers: ticks come when a test fires them.
  rt::testing::SimTime timers;
  std::atomic<int> queuesMade{0};
};

using Events = std::vector<std::string>;

TEST_F(CrontabTest, StatesAndOperations) {
  auto c = Make();
  EXPECT_TRUE(c->Stop(false));  // stopped: no effect
  EXPECT_FALSE(c->Start());     // no tasks; the queue stays
  EXPECT_FALSE(c->State());
  EXPECT_TRUE(CrontabInspector::HasTimerQueue(*c));
  EXPECT_EQ(timers.PendingTimers(), 0u);
  EXPECT_FALSE(c->Add("* * * * * * 2025 old", Record));
  EXPECT_EQ(c->Tasks(), 0);
  EXPECT_EQ(c->Get(""), "");

  ASSERT_TRUE(c->Add("1 * * * * * * First", Record));
  ASSERT_TRUE(c->Add("2 * * * * * * second", Record));
  EXPECT_FALSE(c->Add("3 * * * * * * first", Record));  // differs only in case
  EXPECT_EQ(c->Get("first"), "");                       // Get and Del are case-sensitive
  EXPECT_FALSE(c->Del("first"));
  EXPECT_EQ(c->Get(""), "1 * * * * * * First\r\n2 * * * * * * second");
  EXPECT_EQ(c->Get("second"), "2 * * * * * * second");

  EXPECT_TRUE(c->Start());
  EXPECT_TRUE(c->State());
  EXPECT_EQ(timers.NextDueMs(), 0);  // the first tick comes at once
  EXPECT_TRUE(c->Start());
  EXPECT_EQ(timers.PendingTimers(), 1u);  // no second timer
  EXPECT_FALSE(c->Del(""));
  EXPECT_EQ(c->Tasks(), 2);
  EXPECT_TRUE(c->Stop(false));
  EXPECT_FALSE(c->State());
  EXPECT_EQ(timers.PendingTimers(), 0u);
  EXPECT_TRUE(c->Start());  // the same queue again
  EXPECT_EQ(timers.PendingTimers(), 1u);
  EXPECT_TRUE(c->Stop(true));
  EXPECT_EQ(timers.PendingTimers(), 0u);
  EXPECT_EQ(queuesMade, 1);

  EXPECT_TRUE(c->Del("First"));
  EXPECT_EQ(c->Get(""), "2 * * * * * * second");
  EXPECT_FALSE(c->Del("nobody"));
  EXPECT_TRUE(c->Add("3 * * * * * * first", Record));  // the name is free again
  EXPECT_TRUE(c->Del(""));
  EXPECT_EQ(c->Tasks(), 0);
}

TEST_F(CrontabTest, DuplicateTestFoldsOnlyAsciiLetters) {
  auto c = Make();
  // Two different characters whose trail bytes differ only by 0x20.
  EXPECT_TRUE(c->Add("* * * * * * * \xB0\x41", Record));
  EXPECT_TRUE(c->Add("* * * * * * * \xB0\x61", Record));
  EXPECT_TRUE(c->Add("* * * * * * * 定时提醒", Record));
  EXPECT_FALSE(c->Add("* * * * * * * 定时提醒", Record));
  EXPECT_TRUE(c->Add("* * * * * * * 任务A", Record));
  EXPECT_FALSE(c->Add("* * * * * * * 任务a", Record));
  EXPECT_EQ(c->Tasks(), 4);
}

TEST_F(CrontabTest, AddReadsTheClockOnce) {
  auto c = Make();
  clock.Set(2030, 6, 1, 0, 0, 0);
  const int before = clock.reads();
  EXPECT_FALSE(c->Add("* * * * * * 2029 a", Record));
  EXPECT_TRUE(c->Add("* * * * * * */2030 b", Record));
  EXPECT_TRUE(c->Add("* * * * * * 2030-2040/2030 c", Record));
  EXPECT_EQ(clock.reads() - before, 3);
}

TEST_F(CrontabTest, TickFiresEachSecondOnceWhateverTheTicks) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * every", Record));
  ASSERT_TRUE(c->Add("30 * * * * * * at30", Record));
  ASSERT_TRUE(c->Start());

  TickAt(10, 0, 29, 990);  // the first tick, late in its second
  EXPECT_EQ(timers.NextDueMs(), 15);
  EXPECT_EQ(TakeEvents(), (Events{"every@10:00:29"}));
  TickAt(10, 0, 31, 20);  // :30 was skipped: caught up, in order
  EXPECT_EQ(TakeEvents(), (Events{"every@10:00:30", "at30@10:00:30", "every@10:00:31"}));
  TickAt(10, 0, 31, 999);  // a second tick in the same second
  EXPECT_EQ(TakeEvents(), Events{});
  EXPECT_EQ(timers.NextDueMs(), 6);  // aligned to just after the next second
  TickAt(10, 0, 32, 0);
  EXPECT_EQ(timers.NextDueMs(), 1005);
  EXPECT_EQ(TakeEvents(), (Events{"every@10:00:32"}));
}

TEST_F(CrontabTest, CatchUpIsLimitedAndClockStepsAreHandled) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * e", Record));
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0);
  TakeEvents();
  TickAt(10, 0, 6);  // five seconds skipped: all replayed
  EXPECT_EQ(TakeEvents().size(), 6u);
  TickAt(10, 0, 13);  // six skipped: a jump, not replayed
  EXPECT_EQ(TakeEvents(), (Events{"e@10:00:13"}));
  TickAt(11, 0, 13);  // a forward step of an hour
  EXPECT_EQ(TakeEvents(), (Events{"e@11:00:13"}));

  TickAt(10, 0, 14);  // back an hour: nothing repeats
  TickAt(11, 0, 13);
  EXPECT_EQ(TakeEvents(), Events{});
  TickAt(11, 0, 14);  // new ground again
  EXPECT_EQ(TakeEvents(), (Events{"e@11:00:14"}));

  TickAt(7, 0, 0);  // back four hours: firing resumes from the new time
  EXPECT_EQ(TakeEvents(), (Events{"e@07:00:00"}));
  TickAt(7, 0, 1);
  EXPECT_EQ(TakeEvents(), (Events{"e@07:00:01"}));
}

TEST_F(CrontabTest, ForwardJumpsAreToldNotReplayed) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * e", Record));
  std::vector<std::string> skips;
  c->SetSkipObserver([&](std::int64_t first, std::int64_t last) {
    skips.push_back(Clock(rt::DateTimeFromSystemTime(TimeFromLocalSeconds(first))) + "-" +
                    Clock(rt::DateTimeFromSystemTime(TimeFromLocalSeconds(last))));
  });
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0);
  TickAt(10, 0, 6);   // caught up: nothing skipped
  TickAt(10, 0, 13);  // six seconds skipped
  TickAt(13, 0, 13);  // three hours
  TickAt(12, 0, 0);   // a step back skips nothing
  TickAt(13, 0, 14);
  EXPECT_EQ(skips, (Events{"10:00:07-10:00:12", "10:00:14-13:00:12"}));
  EXPECT_EQ(TakeEvents().back(), "e@13:00:14");
}

TEST_F(CrontabTest, AStepBackIsToldOnceWithItsSize) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * e", Record));
  std::vector<std::string> backs;
  c->SetBackObserver([&](const BackStep& step) {
    backs.push_back(std::to_string(step.seconds) + " after " +
                    Clock(rt::DateTimeFromSystemTime(TimeFromLocalSeconds(step.lastEvaluated))) +
                    (step.takenAsNew ? " new" : " wait"));
  });
  ASSERT_TRUE(c->Start());
  // Ticks come a second apart, so each step is measured from the reading due.
  TickAt(11, 0, 13);
  TickAt(10, 0, 14);  // set back an hour: 11:00:14 was due
  TickAt(10, 0, 15);  // waiting: the same step, not told again
  TickAt(10, 0, 14);  // a second step, of two seconds
  TickAt(11, 0, 14);  // caught up
  TickAt(7, 0, 0);    // more than three hours: taken as new
  TickAt(7, 0, 1);
  EXPECT_EQ(backs, (Events{"3600 after 11:00:13 wait", "2 after 11:00:13 wait",
                           "14415 after 11:00:14 new"}));
  EXPECT_EQ(TakeEvents(), (Events{"e@11:00:13", "e@11:00:14", "e@07:00:00", "e@07:00:01"}));
}

// A clock in a zone with daylight saving, ticked by hand.
class DstTickTest : public CrontabTest {
 protected:
  std::unique_ptr<crontab> MakeDst() {
    auto c = std::make_unique<crontab>(
        dst, [this] { return std::make_unique<rt::testing::SimQueue>(timers); });
    c->SetSkipObserver([this](std::int64_t, std::int64_t) { ++skips; });
    c->SetBackObserver([this](const BackStep&) { ++backs; });
    return c;
  }
  void TickUtc(std::int64_t instant) {
    dst.SetUtc(instant);
    ASSERT_TRUE(timers.Fire());
  }
  static std::int64_t Utc(int mo, int d, int h, int mi, int s) {
    return test::DstClock::Utc(2026, mo, d, h, mi, s);
  }

  test::DstClock dst;
  int skips = 0;
  int backs = 0;
};

// Spring forward: the hour 02:00-02:59 does not exist. Nothing fires in it
// and nothing is told skipped; a task bound to that hour fires once right
// after it, a task of every hour waits for its next time. Whether the tick
// comes on time or late.
TEST_F(DstTickTest, SpringForwardFiresBoundTasksOnceAfterTheGap) {
  const std::vector<std::int64_t> onTime = {Utc(3, 29, 0, 59, 58), Utc(3, 29, 0, 59, 59),
                                            Utc(3, 29, 1, 0, 0), Utc(3, 29, 1, 0, 1)};
  const std::vector<std::int64_t> late = {Utc(3, 29, 0, 59, 58), Utc(3, 29, 1, 0, 1)};
  for (const auto& ticks : {onTime, late}) {
    auto c = MakeDst();
    for (const char* line : {"* * * * * * * every", "0 30 2 * * * * daily", "0 30 * * * * * hourly",
                             "0 */20 2 * * * * thrice", "0 0 3 * * * * three"}) {
      ASSERT_TRUE(c->Add(line, Record));
    }
    dst.SetUtc(ticks.front());
    ASSERT_TRUE(c->Start());
    for (const std::int64_t instant : ticks) TickUtc(instant);
    EXPECT_EQ(TakeEvents(),
              (Events{"every@01:59:58", "every@01:59:59", "every@03:00:00", "daily@03:00:00",
                      "thrice@03:00:00", "three@03:00:00", "every@03:00:01"}));
    EXPECT_EQ(skips, 0);
    EXPECT_EQ(backs, 0);
    ASSERT_TRUE(c->Stop(false));
  }
}

// Fall back: 02:00-02:59 comes twice; each wall-clock second fires once, and
// the repeat is no clock set back.
TEST_F(DstTickTest, FallBackFiresEachWallClockSecondOnce) {
  auto c = MakeDst();
  ASSERT_TRUE(c->Add("* * * * * * * every", Record));
  ASSERT_TRUE(c->Add("0 30 2 * * * * daily", Record));
  dst.SetUtc(Utc(10, 25, 0, 0, 0));
  ASSERT_TRUE(c->Start());
  for (std::int64_t t = Utc(10, 25, 0, 0, 0); t <= Utc(10, 25, 2, 0, 0); ++t) TickUtc(t);
  const Events events = TakeEvents();
  EXPECT_EQ(events.size(), 3600u + 1 + 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "daily@02:30:00"), 1);
  EXPECT_EQ(events.back(), "every@03:00:00");
  EXPECT_EQ(skips, 0);
  EXPECT_EQ(backs, 0);

  TickUtc(Utc(10, 25, 1, 0, 0));  // a clock truly set back is still told
  EXPECT_EQ(backs, 1);
}

TEST_F(CrontabTest, ReplaceKeepsUnchangedLinesAndAddsTheRestInOrder) {
  auto c = Make();
  ASSERT_TRUE(c->Add("0 0 9 * * * * keep", Record));
  ASSERT_TRUE(c->Add("0 0 10 * * * * gone", Record));
  ASSERT_TRUE(c->Start());
  const std::vector<std::string> lines = {"* * * * * * * new", "0 0 9 * * * * keep", "bad line",
                                          "* * * * * * * NEW", "0 0 9 * * * * keep"};
  EXPECT_EQ(c->Replace(lines, Record), (std::vector<bool>{true, true, false, false, false}));
  EXPECT_TRUE(c->State());  // running throughout
  EXPECT_EQ(c->Get(""), "* * * * * * * new\r\n0 0 9 * * * * keep");
  EXPECT_TRUE(c->Add("0 0 10 * * * * gone", Record));  // its name is free again
  // The same line with another callback is a new task.
  EXPECT_EQ(c->Replace(std::vector<std::string>{lines[1]}, nullptr), std::vector<bool>{true});
  TickAt(9, 0, 0);
  EXPECT_EQ(TakeEvents(), Events{});
  EXPECT_EQ(c->Replace(std::vector<std::string>{}, Record), std::vector<bool>{});
  EXPECT_EQ(c->Tasks(), 0);
}

// Reloads at random moments between ticks that come late, early or twice in
// a second: every task fires at exactly the seconds evaluated while it was in
// the set, and a task kept throughout fires at every one of its seconds once.
TEST_F(CrontabTest, RandomReloadsNeitherRepeatNorLoseASecond) {
  std::mt19937 rng(20261206);
  const std::vector<std::string> kept = {"* * * * * * * kept", "*/3 * * * * * * kept3"};
  std::vector<std::string> pool;
  for (int i = 0; i < 12; ++i) {
    pool.push_back((i % 3 == 0 ? "* " : "*/" + std::to_string(i % 5 + 2) + " ") + "* * * * * * r" +
                   std::to_string(i));
  }
  auto c = Make();
  std::vector<Schedule> table;  // the model of the task set
  const auto replace = [&](std::vector<std::string> lines) {
    const auto accepted = c->Replace(lines, Record);
    ASSERT_EQ(accepted, std::vector<bool>(lines.size(), true));
    table.clear();
    for (const auto& line : lines) table.push_back(*Schedule::Parse(line, 2026));
  };
  replace(kept);
  clock.Set(2026, 3, 1, 10, 0, 0, 500);
  ASSERT_TRUE(c->Start());
  std::int64_t now = LocalSeconds({2026, 3, 0, 1, 10, 0, 0, 0});
  std::int64_t evaluated = now - 1;
  Events expected;
  int keptSeconds = 0;
  for (int reload = 0; reload < 100; ++reload) {
    for (int ticks = std::uniform_int_distribution(1, 3)(rng); ticks > 0; --ticks) {
      now += std::uniform_int_distribution(0, 3)(rng);  // 0: a second tick in the same second
      const auto at = TimeFromLocalSeconds(now);
      TickAt(at.hour, at.minute, at.second, std::uniform_int_distribution(0, 999)(rng));
      for (std::int64_t s = evaluated + 1; s <= now; ++s) {
        const auto t = TimeFromLocalSeconds(s);
        for (const auto& task : table) {
          if (task.Matches(t))
            expected.push_back(std::string(task.name()) + "@" +
                               Clock(rt::DateTimeFromSystemTime(t)));
        }
        ++keptSeconds;
      }
      evaluated = std::max(evaluated, now);
    }
    std::vector<std::string> lines;
    for (const auto& line : pool) {
      if (rng() % 2) lines.push_back(line);
    }
    lines.insert(lines.end(), kept.begin(), kept.end());
    std::shuffle(lines.begin(), lines.end(), rng);
    replace(lines);
  }
  const Events events = TakeEvents();
  EXPECT_EQ(events, expected);
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.starts_with("kept@"); }),
            keptSeconds);
}

// The same against a ticking thread: a reload may come at any moment of a
// tick, and the kept task still fires once per second.
TEST_F(CrontabTest, ReloadsBesideARunningTickKeepTheKeptTaskExact) {
  auto c = Make();
  ASSERT_EQ(c->Replace(std::vector<std::string>{"* * * * * * * kept"}, Record),
            std::vector<bool>{true});
  clock.Set(2026, 3, 1, 11, 0, 0, 0);
  ASSERT_TRUE(c->Start());
  std::atomic<bool> done{false};
  int seconds = 0;
  std::thread ticker([&] {
    // Within one hour of the fake clock: past it the minutes would wrap and
    // the clock would seem to go back.
    while ((!done || seconds < 400) && seconds < 3600) {
      clock.Set(2026, 3, 1, 11, seconds / 60 % 60, seconds % 60, 900);
      ASSERT_TRUE(timers.Fire());
      ++seconds;
    }
  });
  std::mt19937 rng(7);
  for (int reload = 0; reload < 100; ++reload) {
    std::vector<std::string> lines = {"* * * * * * * kept"};
    for (int i = 0; i < 5; ++i) {
      if (rng() % 2) lines.push_back("* * * * * * * r" + std::to_string(i));
    }
    std::shuffle(lines.begin(), lines.end(), rng);
    ASSERT_EQ(c->Replace(lines, Record), std::vector<bool>(lines.size(), true));
  }
  done = true;
  ticker.join();
  Events keptTimes;
  for (const auto& e : TakeEvents()) {
    if (e.starts_with("kept@")) keptTimes.push_back(e.substr(5));
  }
  ASSERT_EQ(keptTimes.size(), static_cast<std::size_t>(seconds));
  for (int s = 0; s < seconds; ++s) {
    char expected[16];
    (void)std::snprintf(expected, sizeof expected, "11:%02d:%02d", s / 60 % 60, s % 60);
    ASSERT_EQ(keptTimes[static_cast<std::size_t>(s)], expected);
  }
}

TEST_F(CrontabTest, RestartInTheSameSecondDoesNotFireTwice) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * e", Record));
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0);
  c->Stop(false);
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0, 900);
  EXPECT_EQ(TakeEvents(), (Events{"e@10:00:00"}));
}

TEST_F(CrontabTest, RestartDoesNotReplayTheStoppedSeconds) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * e", Record));
  ASSERT_TRUE(c->Start());
  TickAt(10, 1, 11);
  ASSERT_TRUE(c->Stop(false));
  clock.Set(2026, 3, 1, 10, 1, 14, 300);
  ASSERT_TRUE(c->Start());
  TickAt(10, 1, 14, 300);
  EXPECT_EQ(TakeEvents(), (Events{"e@10:01:11", "e@10:01:14"}));

  // The usual edit: stop, delete, add a line for the second just gone, start.
  TickAt(10, 1, 15);
  ASSERT_TRUE(c->Stop(false));
  ASSERT_TRUE(c->Del("e"));
  ASSERT_TRUE(c->Add("16 * * * * * * past", Record));
  ASSERT_TRUE(c->Add("17 * * * * * * now", Record));
  clock.Set(2026, 3, 1, 10, 1, 17, 900);
  ASSERT_TRUE(c->Start());
  TickAt(10, 1, 17, 901);
  EXPECT_EQ(TakeEvents(), (Events{"e@10:01:15", "now@10:01:17"}));
}

// A new process told what an earlier one fired: its start second, and any
// second before, is not fired again; a record older than the start moves
// nothing, and one from another day still lets later seconds fire.
TEST_F(CrontabTest, SecondsAnEarlierRunFiredAreNotFiredAgain) {
  const struct {
    int doneSecond;  // of 10:00:ss; -1: nothing recorded
    Events events;
  } cases[] = {
      {-1, {"e@10:00:00", "e@10:00:01"}},
      {0, {"e@10:00:01"}},
      {1, {}},
  };
  for (const auto& c : cases) {
    auto m = Make();
    ASSERT_TRUE(m->Add("* * * * * * * e", Record));
    if (c.doneSecond >= 0) {
      m->DoneUntil(LocalSeconds({2026, 3, 0, 1, 10, 0, c.doneSecond, 0}));
    }
    clock.Set(2026, 3, 1, 10, 0, 0, 200);
    ASSERT_TRUE(m->Start());
    TickAt(10, 0, 0, 300);
    TickAt(10, 0, 1, 5);
    EXPECT_EQ(TakeEvents(), c.events) << c.doneSecond;
    m->Stop(false);
  }
}

TEST_F(CrontabTest, FirstTickIsCountedFromTheStartSecond) {
  // A first tick that comes a second late still fires the start second.
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * e", Record));
  clock.Set(2026, 3, 1, 10, 0, 0, 999);
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 1, 2);
  EXPECT_EQ(TakeEvents(), (Events{"e@10:00:00", "e@10:00:01"}));
}

crontab* stopTarget = nullptr;

void StopFromCallback(double fireTime, const char* taskName) {
  Record(fireTime, taskName);
  stopTarget->Stop(true);
}

TEST_F(CrontabTest, StopFromTheFirstCallbackIsNotLost) {
  // The first call comes before CreateTimer has returned its id.
  timers.SetCallOnCreate(true);
  auto c = Make();
  stopTarget = c.get();
  ASSERT_TRUE(c->Add("* * * * * * * stopper", StopFromCallback));
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0, 600);
  EXPECT_FALSE(c->State());
  EXPECT_EQ(timers.PendingTimers(), 0u);
  EXPECT_EQ(TakeEvents(), (Events{"stopper@10:00:00"}));
  stopTarget = nullptr;
}

TEST_F(CrontabTest, InitializeOnALiveHandleTearsTheOldObjectDown) {
  SetObjectFactory([this] { return Make(); });
  crontab_handle handle{};
  crontab_Intialize(&handle);
  ASSERT_EQ(crontab_Add(&handle, "* * * * * * * a", Record), 1);
  ASSERT_EQ(crontab_Start(&handle), 1);
  crontab_Intialize(&handle);
  EXPECT_EQ(timers.PendingTimers(), 0u);
  EXPECT_EQ(crontab_State(&handle), 0);
  EXPECT_EQ(crontab_Tasks(&handle), 0);
  crontab_Destroy(&handle);
  SetObjectFactory(nullptr);
}

// The schedules the scheduler runs, as it parsed them: a kept line keeps
// the year it was read in, where reading it again a year later refuses it.
TEST_F(CrontabTest, SchedulesInForceAreTheSchedulersOwn) {
  SetObjectFactory([this] { return Make(); });
  crontab_handle handle{};
  EXPECT_TRUE(SchedulesInForce(&handle).empty());
  EXPECT_TRUE(SchedulesInForce(nullptr).empty());
  crontab_Intialize(&handle);
  const char* const yearly = "0 0 0 1 1 * */2026 yearly";  // steps of at least this year
  clock.Set(2026, 12, 31, 23, 59, 0);
  ASSERT_EQ(crontab_Add(&handle, yearly, Record), 1);
  ASSERT_EQ(crontab_Add(&handle, "0 0 9 * * * * morning", Record), 1);
  clock.Set(2027, 1, 1, 0, 0, 1);
  const char* lines[] = {"*/15 * * * * * 2027 quarter", "0 0 9 * * * * morning", yearly};
  ASSERT_EQ(crontab_Replace(&handle, lines, 3, Record, nullptr), 3);
  ASSERT_FALSE(Schedule::Parse(yearly, 2027));

  struct Installed {
    const char* line;
    const char* name;
    int year;
  };
  const Installed installed[] = {
      {lines[0], "quarter", 2027}, {lines[1], "morning", 2026}, {yearly, "yearly", 2026}};
  const rt::SystemTime now = clock.LocalTime();
  const auto schedules = SchedulesInForce(&handle);
  ASSERT_EQ(schedules.size(), std::size(installed));
  for (std::size_t i = 0; i < schedules.size(); ++i) {
    const auto& s = schedules[i];
    const auto parsed = Schedule::Parse(installed[i].line, installed[i].year);
    ASSERT_TRUE(parsed) << installed[i].line;
    EXPECT_EQ(s.line(), installed[i].line);
    EXPECT_EQ(s.name(), installed[i].name);
    EXPECT_EQ(s.currentYear(), installed[i].year) << installed[i].line;
    EXPECT_EQ(s.fields(), parsed->fields()) << installed[i].line;
    EXPECT_EQ(s.NextFirings(now, 3), parsed->NextFirings(now, 3)) << installed[i].line;
  }
  EXPECT_EQ(rt::SystemTimeText(*schedules[2].NextAfter(now)), "4052-01-01 00:00:00");
  ASSERT_EQ(crontab_Del(&handle, "morning"), 1);
  EXPECT_EQ(SchedulesInForce(&handle).size(), 2u);
  crontab_Destroy(&handle);
  SetObjectFactory(nullptr);
}

// Read beside reloads and a running tick: always one whole task set.
TEST_F(CrontabTest, SchedulesInForceBesideReloads) {
  SetObjectFactory([this] { return Make(); });
  crontab_handle handle{};
  crontab_Intialize(&handle);
  const char* sets[2][3] = {{"* * * * * * * a", "*/2 * * * * * * b", nullptr},
                            {"*/3 * * * * * * c", "*/4 * * * * * * d", "*/5 * * * * * * e"}};
  ASSERT_EQ(crontab_Replace(&handle, sets[0], 2, Record, nullptr), 2);
  ASSERT_EQ(crontab_Start(&handle), 1);
  std::thread reloads([&] {
    for (int i = 1; i <= 200; ++i)
      crontab_Replace(&handle, sets[i % 2], 2 + i % 2, Record, nullptr);
  });
  for (int i = 0; i < 200; ++i) {
    const auto schedules = SchedulesInForce(&handle);
    ASSERT_TRUE(schedules.size() == 2 || schedules.size() == 3);
    const auto& set = sets[schedules.size() - 2];
    for (std::size_t k = 0; k < schedules.size(); ++k) EXPECT_EQ(schedules[k].line(), set[k]);
    if (i % 20 == 0) TickAt(10, 0, i / 20);
  }
  reloads.join();
  crontab_Destroy(&handle);
  SetObjectFactory(nullptr);
}

TEST_F(CrontabTest, NameLookupsOverManyTasks) {
  auto c = Make();
  const int count = 500;
  auto line = [](int i) { return "* * * * * * * Task" + std::to_string(i); };
  for (int i = 0; i < count; ++i) ASSERT_TRUE(c->Add(line(i), Record));
  for (int i = 0; i < count; i += 7) {
    EXPECT_FALSE(c->Add("0 * * * * * * tASK" + std::to_string(i), Record));
    EXPECT_EQ(c->Get("Task" + std::to_string(i)), line(i));
    EXPECT_EQ(c->Get("task" + std::to_string(i)), "");
  }
  for (int i = 0; i < count; i += 3) ASSERT_TRUE(c->Del("Task" + std::to_string(i)));
  EXPECT_EQ(c->Tasks(), count - (count + 2) / 3);
  for (int i = 0; i < count; ++i) {
    const bool kept = i % 3 != 0;
    EXPECT_EQ(c->Get("Task" + std::to_string(i)), kept ? line(i) : "") << i;
    EXPECT_EQ(c->Add("* * * * * * * TASK" + std::to_string(i), Record), !kept) << i;
  }
  EXPECT_EQ(c->Tasks(), count);
  // Table order: kept tasks first, re-added ones after them.
  const auto lines = rt::SplitText(c->Get(""), "\r\n");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(lines.front(), line(1));
  EXPECT_EQ(lines.back(), "* * * * * * * TASK498");
}

TEST_F(CrontabTest, TaskAddedWhileRunningFiresFromTheNextTick) {
  auto c = Make();
  ASSERT_TRUE(c->Add("0 0 0 1 1 * * yearly", Record));
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0);
  ASSERT_TRUE(c->Add("* * * * * * * late", Record));
  TickAt(10, 0, 1);
  EXPECT_EQ(TakeEvents(), (Events{"late@10:00:01"}));
}

TEST_F(CrontabTest, NamesWithSeparatorsFireAsThemselves) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * a|b|123", Record));
  ASSERT_TRUE(c->Add("* * * * * * * line\r\n", Record));
  ASSERT_TRUE(c->Add("* * * * * * * 100%|\x81", Record));
  ASSERT_TRUE(c->Add("* * * * * * * end ", Record));  // the final space is no part of the name
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0);
  EXPECT_EQ(TakeEvents(), (Events{"a|b|123@10:00:00", "line\r\n@10:00:00", "100%|\x81@10:00:00",
                                  "end@10:00:00"}));
  EXPECT_EQ(c->Get("end"), "* * * * * * * end ");

  // The text form keeps nine items per line, and the reference agrees.
  const std::string text = CrontabInspector::SnapshotText(*c);
  const auto lines = rt::SplitText(text, "\r\n");
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& line : lines) EXPECT_EQ(rt::SplitText(line, "|").size(), 9u) << line;
  EXPECT_EQ(reference::MatchingNames(text, clock.LocalTime()),
            (Events{"a%7Cb%7C123", "line%0D%0A", "100%25%7C%81", "end"}));
}

TEST_F(CrontabTest, SnapshotNamesCallbacksByTableIndex) {
  auto c = Make();
  ASSERT_TRUE(c->Add("* * * * * * * a", Record));
  ASSERT_TRUE(c->Add("* * * * * * * none", nullptr));
  const auto lines = rt::SplitText(CrontabInspector::SnapshotText(*c), "\r\n");
  ASSERT_EQ(lines.size(), 2u);
  const auto index = std::stoul(rt::SplitText(lines[0], "|")[8]);
  EXPECT_EQ(CallbackAt(static_cast<std::uint32_t>(index)), &Record);
  EXPECT_EQ(rt::SplitText(lines[1], "|")[8], "0");
  EXPECT_EQ(RegisterCallback(Record), index);  // one entry per callback
  ASSERT_TRUE(c->Start());
  TickAt(10, 0, 0);
  EXPECT_EQ(TakeEvents(), (Events{"a@10:00:00"}));  // the null callback calls nothing
}

TEST_F(CrontabTest, SnapshotTextHasExpandedFields) {
  auto c = Make();
  ASSERT_TRUE(c->Add("*/15 30,10 8-9 * * * 2027 x", Record));
  const std::string prefix = ":0:15:30:45:|:30:10:|:8:9:|*|*|*|:2027:|x|";
  EXPECT_EQ(CrontabInspector::SnapshotText(*c).substr(0, prefix.size()), prefix);
}

TEST_F(CrontabTest, CopyIsIndependentAndStopped) {
  auto source = Make();
  ASSERT_TRUE(source->Add("* * * * * * * a", Record));
  ASSERT_TRUE(source->Start());
  crontab copy(*source);
  EXPECT_FALSE(copy.State());
  EXPECT_EQ(CrontabInspector::SnapshotSlot(copy), 0);
  EXPECT_EQ(copy.Get(""), source->Get(""));
  EXPECT_TRUE(copy.Del("a"));
  EXPECT_NE(CrontabInspector::SnapshotSlot(copy), 0);
  EXPECT_NE(CrontabInspector::SnapshotSlot(copy), CrontabInspector::SnapshotSlot(*source));
  EXPECT_EQ(source->Tasks(), 1);
  EXPECT_TRUE(copy.Add("* * * * * * * b", Record));
  EXPECT_FALSE(copy.Add("* * * * * * * B", Record));
  ASSERT_TRUE(copy.Start());
  TickAt(10, 0, 0);  // the copy's own timer and snapshot
  EXPECT_EQ(TakeEvents(), (Events{"b@10:00:00"}));
}

// Stop(false) returns once the running tick has ended, Stop(true) at once.
// A stop that waits opens the gate itself, so a wrong one fails, not hangs.
TEST_F(CrontabTest, StopWaitsForARunningTickOnlyWhenAsked) {
  for (const bool noWait : {false, true}) {
    SCOPED_TRACE(noWait ? "Stop(true)" : "Stop(false)");
    CloseGate();
    auto c = Make();
    ASSERT_TRUE(c->Add("* * * * * * * slow", Blocking));
    ASSERT_TRUE(c->Start());
    std::thread tick([&] { TickAt(10, 0, 0); });
    WaitUntilEntered();
    int waits = 0;
    timers.SetBeforeWait([&] {
      ++waits;
      OpenGate();
    });
    EXPECT_TRUE(c->Stop(noWait));
    EXPECT_EQ(waits, noWait ? 0 : 1);
    EXPECT_EQ(TakeEvents(), noWait ? Events{} : Events{"slow@10:00:00"});
    EXPECT_EQ(timers.PendingTimers(), 0u);
    OpenGate();
    tick.join();
    timers.SetBeforeWait(nullptr);
    TakeEvents();
  }
}

TEST_F(CrontabTest, TeardownDoesNotWaitForALongCallback) {
  CloseGate();
  auto c = Make();
  ASSERT_TRUE(c->Add("0 * * * * * * slow", Blocking));
  ASSERT_TRUE(c->Add("* * * * * * * fast", Record));
  ASSERT_TRUE(c->Start());
  std::thread first([&] { TickAt(10, 0, 0); });
  WaitUntilEntered();
  TickAt(10, 0, 1);  // later ticks go on beside the blocked one
  EXPECT_EQ(TakeEvents(), (Events{"fast@10:00:01"}));

  const int slot = CrontabInspector::SnapshotSlot(*c);
  int waits = 0;  // a teardown that waited would open the gate itself
  timers.SetBeforeWait([&] {
    ++waits;
    OpenGate();
  });
  c.reset();  // returns while the callback still runs
  EXPECT_EQ(waits, 0);
  EXPECT_EQ(timers.PendingTimers(), 0u);
  EXPECT_EQ(SnapshotSlotAt(slot).Load(), nullptr);
  OpenGate();
  first.join();
  timers.SetBeforeWait(nullptr);
  // The blocked tick finished its snapshot: its own name, then the next task.
  EXPECT_EQ(TakeEvents(), (Events{"slow@10:00:00", "fast@10:00:00"}));
}

TEST_F(CrontabTest, TickSeesWholeSnapshots) {
  auto c = Make();
  const std::int32_t slotNumber = [&] {
    EXPECT_TRUE(c->Add("0 0 0 1 1 * 2027 anchor", Record));
    return CrontabInspector::SnapshotSlot(*c);
  }();
  const SnapshotSlot& slot = SnapshotSlotAt(slotNumber);
  auto state = std::make_shared<TickState>(clock);
  const rt::TimerId ticks =
      timers.CreateTimer([&](rt::TimerTick& tick) { SchedulerTick(*state, slot, tick); }, 0, 1000);
  std::atomic<bool> done{false};
  std::thread ticker([&] {
    int second = 0;
    while (!done) {
      clock.Set(2026, 3, 1, 11, second / 60 % 60, second % 60);
      ++second;
      ASSERT_TRUE(timers.Fire(ticks));
      // The anchor, and at most the two tasks of one round.
      const auto snapshot = slot.Load();
      std::size_t count = 0;
      snapshot->ForEach([&](const CompiledTask& task) { count += task.name().empty() ? 100 : 1; });
      ASSERT_GE(count, 1u);
      ASSERT_LE(count, 3u);
    }
  });
  for (int round = 0; round < 200; ++round) {
    const std::string a = "* * * * * * * a" + std::to_string(round);
    const std::string b = "* * * * * * * b" + std::to_string(round);
    ASSERT_TRUE(c->Add(a, Record));
    ASSERT_TRUE(c->Add(b, Record));
    ASSERT_TRUE(c->Del("a" + std::to_string(round)));
    ASSERT_TRUE(c->Del("b" + std::to_string(round)));
  }
  done = true;
  ticker.join();
  TakeEvents();
}

TEST(CrontabRealTimerTest, FiresOnTheSystemTimer) {
  static std::atomic<int> calls{0};
  crontab c;
  ASSERT_TRUE(c.Add("* * * * * * * real", [](double, const char*) { ++calls; }));
  ASSERT_TRUE(c.Start());
  // The first tick comes at once; a slow machine gets ten seconds.
  for (int i = 0; i < 1000 && calls == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(c.Stop(false));
  EXPECT_GE(calls.load(), 1);
}

TEST(CrontabRealTimerTest, StopWithoutWaitWhileATickRuns) {
  static Gate slowGate;
  static std::atomic<int> finished{0};
  auto slow = [](double, const char*) {
    std::unique_lock lock(slowGate.mutex);
    slowGate.entered = true;
    slowGate.cv.notify_all();
    slowGate.cv.wait(lock, [] { return slowGate.open; });
    ++finished;
  };
  crontab c;
  ASSERT_TRUE(c.Add("* * * * * * * slow", slow));
  ASSERT_TRUE(c.Start());
  {
    std::unique_lock lock(slowGate.mutex);
    slowGate.cv.wait(lock, [] { return slowGate.entered; });
  }
  EXPECT_TRUE(c.Stop(true));  // returns although the tick is blocked
  EXPECT_FALSE(c.State());
  EXPECT_TRUE(c.Del("slow"));  // stopped, so Del is allowed; the blocked tick keeps its snapshot
  EXPECT_TRUE(c.Add("* * * * * * * other", Record));
  EXPECT_TRUE(c.Start());  // a fresh timer
  EXPECT_TRUE(c.State());
  EXPECT_TRUE(c.Stop(true));
  {
    std::lock_guard lock(slowGate.mutex);
    slowGate.open = true;
    slowGate.cv.notify_all();
  }
  // Let every blocked tick finish before the test ends.
  for (int i = 0; i < 1000 && finished == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(finished.load(), 1);
}

}  // namespace
}  // namespace cron
