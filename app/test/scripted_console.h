// A console with lines typed in advance and everything written kept, and a
// clock that stands still: the application's routines run deterministically.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/clock.h"
#include "runtime/console.h"
#include "temp_folder.h"

namespace app {

class ScriptedConsole final : public rt::Console {
 public:
  void Write(std::string_view text, rt::Stream) override {
    const std::lock_guard lock(mutex_);
    output_.append(text);
    changed_.notify_all();
  }
  std::string ReadLine() override {
    std::unique_lock lock(mutex_);
    ++reads_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !lines_.empty(); });
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    return line;
  }
  void SetTitle(std::string_view title) override {
    const std::lock_guard lock(mutex_);
    title_ = title;
  }
  void Type(std::string line) {
    const std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
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
  std::string Output() {
    const std::lock_guard lock(mutex_);
    return output_;
  }
  std::string Title() {
    const std::lock_guard lock(mutex_);
    return title_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::string output_, title_;
  int reads_ = 0;
};

class FixedClock final : public rt::Clock {
 public:
  rt::SystemTime LocalTime() override { return now; }
  rt::SystemTime now{2026, 12, 0, 6, 9, 1, 1, 0};
};

// A new folder of the running test's own, for the program's files; the
// test removes it.
inline std::filesystem::path FreshTestFolder(std::string_view prefix) {
  return rt::testing::UniqueTempFolder(
      std::string(prefix) + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_");
}

}  // namespace app
