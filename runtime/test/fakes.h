// Fakes of the runtime's injectable services, shared by every layer's tests
// and benchmarks: a clock that stands still, a console that records and one
// that keeps nothing.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/clock.h"
#include "runtime/console.h"

namespace rt::testing {

// A clock that stands where the test puts it.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(SystemTime at = {2026, 12, 0, 6, 9, 1, 1, 0}) : now(at) {}
  SystemTime LocalTime() override { return now; }
  SystemTime now;
};

// A console that keeps what is written (in all and per stream) and reads
// lines typed in advance. With no line typed, ReadLine waits for one, or
// returns "" at once after EndInput. Safe to use from several threads.
class RecordingConsole final : public Console {
 public:
  void Write(std::string_view text, Stream stream) override {
    const std::lock_guard lock(mutex_);
    output_.append(text);
    (stream == Stream::kErr ? err_ : out_).append(text);
    if (stream == Stream::kOut) {
      ++outWrites_;
      largestWrite_ = std::max(largestWrite_, text.size());
    }
    changed_.notify_all();
  }
  std::string ReadLine() override {
    std::unique_lock lock(mutex_);
    ++reads_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !lines_.empty() || inputEnded_; });
    if (lines_.empty()) return {};
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }
  void SetTitle(std::string_view title) override {
    const std::lock_guard lock(mutex_);
    title_ = title;
  }
  ConsoleInput InputKind() override {
    const std::lock_guard lock(mutex_);
    return inputKind_;
  }

  // What InputKind says from now on (a terminal until then).
  void SetInputKind(ConsoleInput kind) {
    const std::lock_guard lock(mutex_);
    inputKind_ = kind;
  }
  void Type(std::string line) {
    const std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    changed_.notify_all();
  }
  void EndInput() {
    const std::lock_guard lock(mutex_);
    inputEnded_ = true;
    changed_.notify_all();
  }
  int Reads() {
    const std::lock_guard lock(mutex_);
    return reads_;
  }
  void WaitForReads(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return reads_ >= n; });
  }
  // Waits (a minute at most) until the output holds part; false if it never does.
  bool WaitForOutput(std::string_view part) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::minutes(1),
                             [&] { return output_.find(part) != std::string::npos; });
  }
  // Everything written, to either stream, in order.
  std::string Output() {
    const std::lock_guard lock(mutex_);
    return output_;
  }
  std::string Out() {
    const std::lock_guard lock(mutex_);
    return out_;
  }
  std::string Err() {
    const std::lock_guard lock(mutex_);
    return err_;
  }
  std::string Title() {
    const std::lock_guard lock(mutex_);
    return title_;
  }
  // Writes to standard output, and the largest of them.
  int OutWrites() {
    const std::lock_guard lock(mutex_);
    return outWrites_;
  }
  std::size_t LargestWrite() {
    const std::lock_guard lock(mutex_);
    return largestWrite_;
  }
  // Forgets what was written.
  void Clear() {
    const std::lock_guard lock(mutex_);
    output_.clear();
    out_.clear();
    err_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool inputEnded_ = false;
  ConsoleInput inputKind_ = ConsoleInput::kTerminal;
  std::string output_, out_, err_, title_;
  int reads_ = 0;
  int outWrites_ = 0;
  std::size_t largestWrite_ = 0;
};

// A console that keeps nothing, for benchmarks; input has ended.
class QuietConsole final : public Console {
 public:
  void Write(std::string_view, Stream) override {}
  std::string ReadLine() override { return {}; }
  void SetTitle(std::string_view) override {}
};

}  // namespace rt::testing
