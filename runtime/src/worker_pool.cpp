#include "runtime/worker_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace rt {

// Shared with the workers, so that a pool closed without waiting may go
// while they finish.
struct WorkerPool::State {
  std::mutex mutex;
  std::condition_variable work;  // a job waits, or closed
  std::condition_variable done;  // a job ended or a worker left
  std::deque<std::function<void()>> jobs;
  std::vector<std::thread::id> ids;  // of the workers alive
  int maxWorkers = 1;
  int workers = 0;
  int idle = 0;      // waiting for a job
  int starting = 0;  // started, not yet waiting
  int running = 0;
  bool closed = false;
  ThreadStarter startThread;
};

namespace {

bool StartStdThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace

WorkerPool::WorkerPool(int maxWorkers, ThreadStarter startThread)
    : state_(std::make_shared<State>()) {
  state_->maxWorkers = maxWorkers < 1 ? 1 : maxWorkers;
  state_->startThread = startThread ? std::move(startThread) : StartStdThread;
}

WorkerPool::~WorkerPool() {
  bool closed = false;
  {
    const std::lock_guard lock(state_->mutex);
    closed = state_->closed;
  }
  if (!closed) Close(true);
}

bool WorkerPool::Post(std::function<void()> job) {
  const std::shared_ptr<State>& s = state_;
  std::unique_lock lock(s->mutex);
  if (s->closed) return false;
  s->jobs.push_back(std::move(job));
  // Jobs already waiting have first claim on the idle and starting workers.
  const bool needWorker = static_cast<int>(s->jobs.size()) > s->idle + s->starting;
  if (!needWorker || s->workers >= s->maxWorkers) {
    s->work.notify_one();
    return true;
  }
  ++s->workers;
  ++s->starting;
  lock.unlock();
  const bool started = s->startThread([s] { Work(s); });
  lock.lock();
  if (started) return true;
  --s->workers;
  --s->starting;
  if (s->workers > 0) return true;  // one that is busy takes it later
  s->jobs.clear();                  // no worker at all: nothing would run it
  s->done.notify_all();
  return false;
}

void WorkerPool::WaitIdle() {
  std::unique_lock lock(state_->mutex);
  state_->done.wait(lock, [this] { return state_->jobs.empty() && state_->running == 0; });
}

void WorkerPool::Close(bool wait) {
  const std::shared_ptr<State>& s = state_;
  std::unique_lock lock(s->mutex);
  s->closed = true;
  s->jobs.clear();
  s->work.notify_all();
  s->done.notify_all();
  if (!wait) return;
  const auto self = std::this_thread::get_id();
  const auto mine = [&] {
    for (const auto id : s->ids) {
      if (id == self) return 1;
    }
    return 0;
  };
  // Workers are detached: waiting means waiting for them to leave.
  s->done.wait(lock, [&] { return s->workers == mine(); });
}

bool WorkerPool::WaitIdle(int limitMs) {
  std::unique_lock lock(state_->mutex);
  return state_->done.wait_for(lock, std::chrono::milliseconds(limitMs),
                               [this] { return state_->jobs.empty() && state_->running == 0; });
}

int WorkerPool::Workers() const {
  const std::lock_guard lock(state_->mutex);
  return state_->workers;
}

void WorkerPool::Work(const std::shared_ptr<State>& s) {
  std::unique_lock lock(s->mutex);
  --s->starting;
  s->ids.push_back(std::this_thread::get_id());
  for (;;) {
    ++s->idle;
    s->work.wait(lock, [&] { return s->closed || !s->jobs.empty(); });
    --s->idle;
    if (s->closed) break;
    std::function<void()> job = std::move(s->jobs.front());
    s->jobs.pop_front();
    ++s->running;
    lock.unlock();
    job();
    job = nullptr;  // what it holds goes before the pool hears of the end
    lock.lock();
    --s->running;
    s->done.notify_all();
  }
  std::erase(s->ids, std::this_thread::get_id());
  --s->workers;
  s->done.notify_all();
}

}  // namespace rt
