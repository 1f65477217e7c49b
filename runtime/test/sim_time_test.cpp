#include "sim_time.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace rt::testing {
namespace {

// Calls run in due order (ties: the older timer first), each with the clock
// at its due time; SetNextDue and periods place the next call; a call may
// delete its own timer, waiting, without waiting for itself.
TEST(SimTime, AdvanceRunsDueCallsInOrderAtTheirTime) {
  SimTime sim({2026, 12, 4, 31, 23, 59, 59, 500});
  std::vector<std::string> calls;
  const auto log = [&](const char* name) {
    const SystemTime t = sim.LocalTime();
    calls.push_back(std::string(name) + "@" + std::to_string(sim.ElapsedMs()) + "/" +
                    std::to_string(t.year) + "-" + std::to_string(t.second) + "." +
                    std::to_string(t.milliseconds));
  };
  int waits = 0;
  sim.SetBeforeWait([&] { ++waits; });
  sim.CreateTimer([&](TimerTick&) { log("once"); }, 700, 0);
  TimerId every = 0;
  int everyCalls = 0;
  every = sim.CreateTimer(
      [&](TimerTick&) {
        log("every");
        if (++everyCalls == 3) {
          EXPECT_TRUE(sim.DeleteTimer(every, TimerWait::kWait));
        }
      },
      0, 300);
  bool moved = false;
  sim.CreateTimer(
      [&](TimerTick& tick) {
        log("moved");
        if (!std::exchange(moved, true)) tick.SetNextDue(50);
      },
      200, 1000);
  sim.CreateTimer([&](TimerTick&) { log("tie"); }, 300, 0);

  sim.Advance(1000);
  EXPECT_EQ(calls, (std::vector<std::string>{"every@0/2026-59.500", "moved@200/2026-59.700",
                                             "moved@250/2026-59.750", "every@300/2026-59.800",
                                             "tie@300/2026-59.800", "every@600/2027-0.100",
                                             "once@700/2027-0.200"}));
  EXPECT_EQ(waits, 0);
  EXPECT_EQ(sim.PendingTimers(), 1u);  // "moved", next at 1250
  EXPECT_EQ(sim.NextDueMs(), 250);
  EXPECT_EQ(sim.ElapsedMs(), 1000);
  EXPECT_EQ(sim.LocalTime(), (SystemTime{2027, 1, 5, 1, 0, 0, 0, 500}));

  sim.Jump(-(86'400'000 + 1000));  // the wall clock alone, across a month
  EXPECT_EQ(sim.LocalTime(), (SystemTime{2026, 12, 3, 30, 23, 59, 59, 500}));
  EXPECT_EQ(sim.ElapsedMs(), 1000);
  EXPECT_EQ(sim.NextDueMs(), 250);
}

TEST(SimTime, FireRunsACallAtOnceAndCallOnCreateRunsTheFirst) {
  SimTime sim;
  sim.SetCallOnCreate(true);
  int calls = 0;
  const TimerId id = sim.CreateTimer(
      [&](TimerTick& tick) {
        if (++calls == 1) tick.SetNextDue(5);
      },
      1000, 1000);
  EXPECT_EQ(calls, 1);  // before CreateTimer returned
  EXPECT_EQ(sim.NextDueMs(id), 5);
  sim.SetCallOnCreate(false);
  const TimerId later = sim.CreateTimer([](TimerTick&) {}, 40, 0);
  EXPECT_EQ(sim.NextDueMs(), 40);  // the newest
  EXPECT_TRUE(sim.Fire(id));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sim.NextDueMs(id), 1000);  // its period from now; time stood still
  EXPECT_TRUE(sim.Fire());             // the newest, a one-shot: gone after its call
  EXPECT_FALSE(sim.NextDueMs(later).has_value());
  EXPECT_FALSE(sim.Fire(later));
  EXPECT_EQ(sim.ElapsedMs(), 0);
}

// A view closes its own timers only; another's go on in the same time.
TEST(SimTime, AViewClosesOnlyItsOwnTimers) {
  SimTime sim;
  int mine = 0;
  int theirs = 0;
  auto view = std::make_unique<SimQueue>(sim);
  SimQueue other(sim);
  view->CreateTimer([&](TimerTick&) { ++mine; }, 0, 100);
  view->CreateTimer([&](TimerTick&) { ++mine; }, 50, 100);
  other.CreateTimer([&](TimerTick&) { ++theirs; }, 0, 100);
  sim.CreateTimer([&](TimerTick&) { ++theirs; }, 0, 100);
  sim.Advance(99);
  view->Close(TimerWait::kWait);
  sim.Advance(100);
  EXPECT_EQ(mine, 2);
  EXPECT_EQ(theirs, 4);
  view.reset();
  EXPECT_EQ(sim.PendingTimers(), 2u);
}

}  // namespace
}  // namespace rt::testing
