#include "delivery_queue.h"

#include <thread>

namespace app {

void DeliveryQueue::Post(std::function<void()> job) {
  const std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(job));
  if (waiting_ == 0 && workers_ < maxWorkers_) {
    ++workers_;
    std::thread([this] { Work(); }).detach();
  }
  queued_.notify_one();
}

void DeliveryQueue::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
}

void DeliveryQueue::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++waiting_;
    queued_.wait(lock, [this] { return !jobs_.empty(); });
    --waiting_;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    ++running_;
    lock.unlock();
    job();
    lock.lock();
    --running_;
    if (jobs_.empty() && running_ == 0) idle_.notify_all();
  }
}

}  // namespace app
