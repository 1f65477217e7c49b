// The worker pool in real threads. Tests wait on events with generous
// deadlines and assert which jobs run, never how long they take.
#include "runtime/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace rt {
namespace {

using namespace std::chrono_literals;

// A count that tests can wait on.
class Count {
 public:
  void Add() {
    const std::lock_guard lock(mutex_);
    ++n_;
    cv_.notify_all();
  }
  bool WaitFor(int n, std::chrono::milliseconds deadline = 10s) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, deadline, [&] { return n_ >= n; });
  }
  int Get() {
    const std::lock_guard lock(mutex_);
    return n_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int n_ = 0;
};

// Jobs posted together each wait until all of them have started: they pass
// only if none waits for another's worker.
TEST(WorkerPoolTest, JobsPostedTogetherNeverWaitOnEachOther) {
  struct Case {
    const char* name;
    int warmJobs;  // run and finished first, leaving idle workers behind
    int together;
  };
  for (const Case c : {Case{"cold pool", 0, 2}, Case{"one idle worker", 1, 2},
                       Case{"two idle workers", 2, 3}, Case{"many", 1, 6}}) {
    SCOPED_TRACE(c.name);
    WorkerPool pool(8);
    Count warm;
    for (int i = 0; i < c.warmJobs; ++i) pool.Post([&] { warm.Add(); });
    pool.WaitIdle();
    ASSERT_EQ(warm.Get(), c.warmJobs);
    Count started;
    for (int i = 0; i < c.together; ++i) {
      ASSERT_TRUE(pool.Post([&] {
        started.Add();
        started.WaitFor(c.together);
      }));
    }
    EXPECT_TRUE(started.WaitFor(c.together));
    pool.WaitIdle();
    EXPECT_LE(pool.Workers(), c.together + c.warmJobs);
  }
}

TEST(WorkerPoolTest, PastTheCapJobsWaitInOrder) {
  WorkerPool pool(2);
  Count started, release;
  std::mutex orderMutex;
  std::vector<int> order;
  for (int i = 0; i < 4; ++i) {
    pool.Post([&, i] {
      {
        const std::lock_guard lock(orderMutex);
        order.push_back(i);
      }
      started.Add();
      release.WaitFor(1);
    });
  }
  ASSERT_TRUE(started.WaitFor(2));
  EXPECT_FALSE(started.WaitFor(3, 200ms));  // both workers are busy
  EXPECT_EQ(pool.Workers(), 2);
  release.Add();
  pool.WaitIdle();
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[2] + order[3], 5);  // the two that waited: 2 and 3
}

TEST(WorkerPoolTest, AThreadThatCannotStartIsSaidOrWaitedFor) {
  std::atomic<bool> allowThreads{true};
  WorkerPool pool(4, [&](std::function<void()> body) {
    if (!allowThreads) return false;
    std::thread(std::move(body)).detach();
    return true;
  });
  allowThreads = false;
  bool ran = false;
  EXPECT_FALSE(pool.Post([&] { ran = true; }));  // no worker at all: refused
  pool.WaitIdle();
  EXPECT_FALSE(ran);

  allowThreads = true;
  Count busy, release, later;
  ASSERT_TRUE(pool.Post([&] {
    busy.Add();
    release.WaitFor(1);
  }));
  ASSERT_TRUE(busy.WaitFor(1));
  allowThreads = false;
  // A worker exists: the job waits for it instead of being lost.
  EXPECT_TRUE(pool.Post([&] { later.Add(); }));
  release.Add();
  EXPECT_TRUE(later.WaitFor(1));
}

TEST(WorkerPoolTest, CloseDropsQueuedJobsAndWaitsOrNot) {
  for (const bool wait : {true, false}) {
    SCOPED_TRACE(wait ? "wait" : "no wait");
    auto pool = std::make_unique<WorkerPool>(1);
    Count started, release, dropped;
    auto finished = std::make_shared<Count>();
    pool->Post([&started, &release, finished] {
      started.Add();
      release.WaitFor(1);
      finished->Add();
    });
    pool->Post([&] { dropped.Add(); });
    ASSERT_TRUE(started.WaitFor(1));
    std::thread closer([&] { pool->Close(wait); });
    if (wait) {
      EXPECT_FALSE(finished->WaitFor(1, 100ms));
      release.Add();
      closer.join();
      EXPECT_EQ(finished->Get(), 1);
    } else {
      closer.join();  // returns with the job still running
      pool.reset();   // a closed pool goes at once
      EXPECT_EQ(finished->Get(), 0);
      release.Add();
      EXPECT_TRUE(finished->WaitFor(1));
    }
    EXPECT_FALSE(pool && pool->Post([] {}));
    EXPECT_EQ(dropped.Get(), 0);
  }
}

TEST(WorkerPoolTest, AJobMayCloseItsOwnPool) {
  WorkerPool pool(2);
  Count done;
  pool.Post([&] {
    pool.Close(true);  // waits for the others, not for itself
    done.Add();
  });
  EXPECT_TRUE(done.WaitFor(1));
}

TEST(WorkerPoolTest, DestroyingAnIdlePoolEndsItsWorkers) {
  for (int round = 0; round < 20; ++round) {
    WorkerPool pool(4);
    for (int i = 0; i < 4; ++i) pool.Post([] {});
    pool.WaitIdle();
  }  // each destructor returns: its idle workers leave
}

}  // namespace
}  // namespace rt
