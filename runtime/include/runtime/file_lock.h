// One holder of a lock file among the processes of the machine: the system
// drops the lock with its process, however that ends, so a crash never
// leaves a stale one behind.
#pragma once

#include <cstdint>

#include "runtime/path.h"

namespace rt {

class ProcessLock {
 public:
  enum class State {
    kHeld,    // this process holds the lock until the object is destroyed
    kTaken,   // another process holds it; holder() tells which, if it said
    kFailed,  // the file cannot be opened or locked: nobody is known to hold it
  };

  // Takes the lock of the file at path, made when missing, without waiting.
  // Once held, the file says this process's id as decimal digits. Any
  // thread; the lock is released by the destructor or the process's end.
  static ProcessLock Take(const Path& path);

  ProcessLock(ProcessLock&& other) noexcept;
  ProcessLock& operator=(ProcessLock&&) = delete;
  ProcessLock(const ProcessLock&) = delete;
  ~ProcessLock();

  State state() const { return state_; }
  // With kTaken: the holder's process id as its file says it; 0 when it
  // does not say yet.
  std::int64_t holder() const { return holder_; }

 private:
  ProcessLock(State state, std::intptr_t handle, std::int64_t holder)
      : state_(state), handle_(handle), holder_(holder) {}

  State state_;
  std::intptr_t handle_;  // the open file while held; -1 otherwise
  std::int64_t holder_;
};

// This process's id, as the system numbers processes.
std::int64_t ProcessId();

}  // namespace rt
