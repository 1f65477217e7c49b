// Real-time tests of the timer queue. They wait on events with generous
// deadlines and assert order of events, never durations.
#include "runtime/timer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace rt {
namespace {

using namespace std::chrono_literals;
constexpr auto kDeadline = 10s;

// A counter that tests can wait on.
class Counter {
 public:
  void Add() {
    std::lock_guard lock(mutex_);
    ++count_;
    cv_.notify_all();
  }
  bool WaitFor(int n, std::chrono::milliseconds deadline = kDeadline) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, deadline, [&] { return count_ >= n; });
  }
  int Get() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int count_ = 0;
};

// A gate a callback blocks on until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

TEST(TimerQueueTest, FirstCallAtOnceThenPeriodic) {
  auto queue = CreateTimerQueue();
  ASSERT_NE(queue, nullptr);
  Counter calls;
  // A long period: only "first call at once" can produce the first call in time.
  const TimerId id = queue->CreateTimer([&](TimerTick&) { calls.Add(); }, 0, 3'600'000);
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(calls.WaitFor(1));
  EXPECT_TRUE(queue->DeleteTimer(id, TimerWait::kWait));
  EXPECT_FALSE(queue->DeleteTimer(id, TimerWait::kWait));

  Counter periodic;
  const TimerId fast = queue->CreateTimer([&](TimerTick&) { periodic.Add(); }, 0, 5);
  EXPECT_TRUE(periodic.WaitFor(3));
  queue->DeleteTimer(fast, TimerWait::kWait);
}

TEST(TimerQueueTest, LongCallDoesNotHoldUpTheNext) {
  auto queue = CreateTimerQueue();
  Gate gate;
  Counter calls;
  std::atomic<int> entered{0};
  const TimerId id = queue->CreateTimer(
      [&](TimerTick&) {
        calls.Add();
        if (entered.fetch_add(1) == 0) gate.Wait();  // the first call blocks
      },
      0, 5);
  // Later calls arrive while the first is still blocked.
  EXPECT_TRUE(calls.WaitFor(3));
  gate.Open();
  queue->DeleteTimer(id, TimerWait::kWait);
}

// Ticks of calls that never end: a thread per tick would grow without end.
TEST(TimerQueueTest, CallsThatNeverEndHoldABoundedNumberOfThreads) {
  auto queue = CreateTimerQueue();
  Gate gate;
  Counter entered;
  const TimerId id = queue->CreateTimer(
      [&](TimerTick&) {
        entered.Add();
        gate.Wait();
      },
      0, 1);
  ASSERT_TRUE(entered.WaitFor(kMaxRunningCalls));
  // Hundreds more ticks come due meanwhile; none may start a call.
  EXPECT_FALSE(entered.WaitFor(kMaxRunningCalls + 1, 300ms));
  gate.Open();
  queue->DeleteTimer(id, TimerWait::kWait);
}

// One-shot timers: each runs once, in the order of its due time, and one
// deleted before it is due never runs.
TEST(TimerQueueTest, OneShotTimersRunOnceInDueOrderUnlessDeleted) {
  auto queue = CreateTimerQueue();
  std::mutex mutex;
  std::vector<int> order;
  Counter calls;
  const auto record = [&](int n) {
    return [&, n](TimerTick&) {
      {
        std::lock_guard lock(mutex);
        order.push_back(n);
      }
      calls.Add();
    };
  };
  const TimerId last = queue->CreateTimer(record(3), 300, 0);
  const TimerId first = queue->CreateTimer(record(1), 50, 0);
  const TimerId cancelled = queue->CreateTimer(record(9), 150, 0);
  const TimerId far = queue->CreateTimer(record(8), 3'600'000, 0);
  queue->CreateTimer(record(2), 200, 0);
  ASSERT_NE(last, 0u);
  EXPECT_TRUE(queue->DeleteTimer(cancelled, TimerWait::kWait));
  EXPECT_TRUE(queue->DeleteTimer(far, TimerWait::kNoWait));
  ASSERT_TRUE(calls.WaitFor(3));
  EXPECT_FALSE(calls.WaitFor(4, 300ms));  // nothing runs twice
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  }
  EXPECT_FALSE(queue->DeleteTimer(first, TimerWait::kWait));  // spent
}

// A one-shot call may set its own timer again, as a periodic one may.
TEST(TimerQueueTest, OneShotCallMayArmItselfAgain) {
  auto queue = CreateTimerQueue();
  Counter calls;
  queue->CreateTimer(
      [&](TimerTick& tick) {
        calls.Add();
        if (calls.Get() < 3) tick.SetNextDue(1);
      },
      0, 0);
  EXPECT_TRUE(calls.WaitFor(3));
  EXPECT_FALSE(calls.WaitFor(4, 200ms));
}

TEST(TimerQueueTest, DeleteWaitsForRunningCallOrNot) {
  for (const TimerWait wait : {TimerWait::kWait, TimerWait::kNoWait}) {
    auto queue = CreateTimerQueue();
    Gate gate;
    Counter started;
    std::atomic<bool> finished{false};
    const TimerId id = queue->CreateTimer(
        [&](TimerTick&) {
          started.Add();
          gate.Wait();
          finished = true;
        },
        0, 3'600'000);
    ASSERT_TRUE(started.WaitFor(1));
    std::atomic<bool> deleted{false};
    std::thread deleter([&] {
      queue->DeleteTimer(id, wait);
      deleted = true;
    });
    if (wait == TimerWait::kNoWait) {
      deleter.join();
      EXPECT_FALSE(finished);
      gate.Open();
    } else {
      std::this_thread::sleep_for(50ms);  // the one place that needs real time
      EXPECT_FALSE(deleted);
      gate.Open();
      deleter.join();
      EXPECT_TRUE(finished);
    }
    queue.reset();  // waits for the call
    EXPECT_TRUE(finished);
    EXPECT_EQ(started.Get(), 1);
  }
}

TEST(TimerQueueTest, NoCallStartsAfterDelete) {
  auto queue = CreateTimerQueue();
  Counter calls;
  // Calls are far shorter than the period, so at most one runs at a time.
  const TimerId id = queue->CreateTimer([&](TimerTick&) { calls.Add(); }, 0, 20);
  ASSERT_TRUE(calls.WaitFor(2));
  queue->DeleteTimer(id, TimerWait::kNoWait);
  const int atDelete = calls.Get();
  queue.reset();
  // At most a call that was already running when the timer was deleted.
  EXPECT_LE(calls.Get(), atDelete + 1);
}

TEST(TimerQueueTest, CallMovesItsOwnNextDue) {
  auto queue = CreateTimerQueue();
  Counter calls;
  const TimerId id = queue->CreateTimer(
      [&](TimerTick& tick) {
        calls.Add();
        tick.SetNextDue(1);  // instead of an hour from now
      },
      0, 3'600'000);
  EXPECT_TRUE(calls.WaitFor(3));
  queue->DeleteTimer(id, TimerWait::kWait);
}

TEST(TimerQueueTest, DeleteFromOwnCallDoesNotWaitForItself) {
  auto queue = CreateTimerQueue();
  Counter done;
  std::atomic<TimerId> id{0};
  Gate created;
  id = queue->CreateTimer(
      [&](TimerTick&) {
        created.Wait();
        queue->DeleteTimer(id, TimerWait::kWait);
        done.Add();
      },
      0, 3'600'000);
  created.Open();
  EXPECT_TRUE(done.WaitFor(1));
}

TEST(TimerQueueTest, CloseWithoutWaitLetsTheCallFinish) {
  auto queue = CreateTimerQueue();
  Gate gate;
  Counter started;
  auto finished = std::make_shared<Counter>();
  queue->CreateTimer(
      [&gate, &started, finished](TimerTick& tick) {
        started.Add();
        gate.Wait();
        tick.SetNextDue(0);  // harmless on a closed queue
        finished->Add();
      },
      0, 3'600'000);
  ASSERT_TRUE(started.WaitFor(1));
  queue->Close(TimerWait::kNoWait);
  queue.reset();  // returns at once: the queue was closed without waiting
  EXPECT_EQ(finished->Get(), 0);
  gate.Open();
  EXPECT_TRUE(finished->WaitFor(1));
  EXPECT_EQ(queue, nullptr);
}

TEST(TimerQueueTest, ClosedQueueMakesNoTimer) {
  auto queue = CreateTimerQueue();
  queue->Close(TimerWait::kWait);
  EXPECT_EQ(queue->CreateTimer([](TimerTick&) {}, 0, 1), 0u);
  EXPECT_EQ(queue->CreateTimer(nullptr, 0, 1), 0u);
}

}  // namespace
}  // namespace rt
