// Deliveries run beside each other, so that one slow relay answer delays no
// other reminder; at most a fixed number at once, the rest wait in order.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace app {

class DeliveryQueue {
 public:
  explicit DeliveryQueue(int maxWorkers) : maxWorkers_(maxWorkers) {}
  DeliveryQueue(const DeliveryQueue&) = delete;
  DeliveryQueue& operator=(const DeliveryQueue&) = delete;

  // Runs job on a worker thread; workers are started as needed and never
  // joined: the process may end while a delivery still waits for its relay.
  void Post(std::function<void()> job);
  // Blocks until no job is queued or running.
  void WaitIdle();

 private:
  void Work();

  const int maxWorkers_;
  std::mutex mutex_;
  std::condition_variable queued_, idle_;
  std::deque<std::function<void()>> jobs_;
  int workers_ = 0;
  int waiting_ = 0;  // workers blocked waiting for a job
  int running_ = 0;
};

}  // namespace app
