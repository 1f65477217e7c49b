// A pool of worker threads that run posted jobs, started as they are needed
// and kept for later jobs: at most maxWorkers at once, the rest wait in order.
// A job never waits while a worker could be started for it: a worker counts
// as free only while it is idle and not yet spoken for, or still starting.
// Every member may be called from any thread, jobs included, except as said.
#pragma once

#include <functional>
#include <memory>

namespace rt {

class WorkerPool {
 public:
  // Starts a thread that runs `body`; false when no thread can be had. It is
  // called without the pool's lock; the default starts a detached std::thread.
  using ThreadStarter = std::function<bool(std::function<void()> body)>;

  // maxWorkers below 1 counts as 1. No thread starts before the first Post.
  explicit WorkerPool(int maxWorkers, ThreadStarter startThread = {});
  // Closes the pool and waits for running jobs (those of other threads),
  // unless it was closed before.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues the job, which then runs on a worker and must not throw. False
  // (and the job is dropped) once closed, or when no worker exists and none
  // can be started (jobs still queued are dropped then too); while one
  // exists, a job that found no new thread waits for it.
  bool Post(std::function<void()> job);
  // Blocks until no job is queued or running (a job may not call it).
  void WaitIdle();
  // The same for at most limitMs milliseconds; false when jobs were still
  // left then.
  bool WaitIdle(int limitMs);
  // No job starts afterwards; queued ones are dropped (destroyed under the
  // pool's lock, so what they hold must not call the pool). With wait,
  // returns once running jobs have ended (the calling worker's own excepted);
  // without, they end on their own and the workers with them.
  void Close(bool wait);

  // Workers alive now (for tests and figures).
  int Workers() const;

 private:
  struct State;
  static void Work(const std::shared_ptr<State>& s);
  std::shared_ptr<State> state_;
};

}  // namespace rt
