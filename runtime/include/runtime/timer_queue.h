// Timer queues: periodic and one-shot timers whose callbacks run on queue threads.
//
// A callback that outlasts its period does not hold up the next call: calls
// of one timer, and of different timers, may run at the same time on
// different threads, up to kMaxRunningCalls in one queue. Ticks are not
// saved up: a tick that finds no room for its call is dropped (one call per
// timer may wait for a thread), so calls that never end cost a bounded
// number of threads. The queue is an interface so that
// schedulers can be driven by a fake timer in tests.
//
// Every member may be called from any thread, a call of the queue's own
// included, except as said below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace rt {

// Calls of one queue that run at the same time, at most.
inline constexpr int kMaxRunningCalls = 64;

// Identifies a timer within its queue; 0 is no timer. Ids are not reused.
using TimerId = std::uint64_t;

enum class TimerWait {
  kNoWait,  // running calls finish on their own
  kWait,    // return only once running calls have finished
};

// What a running call may do to its own timer; valid during the call only.
class TimerTick {
 public:
  // Moves the next call to dueMs from now; the period counts on from there.
  // Has no effect once the timer is deleted.
  virtual void SetNextDue(std::uint32_t dueMs) = 0;

 protected:
  ~TimerTick() = default;
};

using TimerCallback = std::function<void(TimerTick&)>;

class TimerQueue {
 public:
  // Deleting a queue closes it and waits for running calls (Close(kWait)),
  // unless it was closed before.
  virtual ~TimerQueue() = default;

  // First call after dueMs (0: at once), then every periodMs (0: only once).
  // The queue keeps the callback until the timer is deleted; a one-shot
  // timer whose call ends without SetNextDue is spent and unknown from then
  // on. The callback must not be empty and must not throw. Returns the
  // timer's id, or 0 when the queue is closed or the timer cannot be made.
  virtual TimerId CreateTimer(TimerCallback callback, std::uint32_t dueMs,
                              std::uint32_t periodMs) = 0;

  // No call of the timer starts after this returns. With kWait it also waits
  // for running calls, except when called from one of that timer's own calls
  // (which would wait for itself). False for an unknown timer, a spent
  // one-shot one included.
  virtual bool DeleteTimer(TimerId timer, TimerWait wait) = 0;

  // Deletes every timer; no call starts afterwards, and CreateTimer gives 0.
  // With kNoWait the running calls finish on their own and everything they
  // use stays valid. Not with kWait (nor by deleting the queue) from one of
  // its own calls: on Windows that waits for the call itself.
  virtual void Close(TimerWait wait) = 0;
};

// A queue of the platform, the caller's to delete; nullptr when it cannot be
// made.
std::unique_ptr<TimerQueue> CreateTimerQueue();

}  // namespace rt
