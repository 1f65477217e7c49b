// What tests and benchmarks read of a scheduler object beyond its
// interface: its snapshot slot, its timer queue, and its tasks in the text
// form the reference matcher reads.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "crontab_object.h"
#include "reference_matcher.h"

namespace cron {

struct CrontabInspector {
  static std::int32_t SnapshotSlot(const crontab& c) {
    const std::lock_guard lock(c.mutex_);
    return c.snapshotSlot_;
  }
  static bool HasTimerQueue(const crontab& c) {
    const std::lock_guard lock(c.mutex_);
    return c.timerQueue_ != nullptr;
  }
  static std::string SnapshotText(const crontab& c) {
    const std::lock_guard lock(c.mutex_);
    std::string out;
    for (std::size_t i = 0; i < c.tasks_->size(); ++i) {
      const CompiledTask& task = (*c.tasks_)[i];
      for (int position = 1; position <= kFieldCount; ++position) {
        out += reference::ExpandedField(task.schedule, position);
        out += '|';
      }
      out += reference::EscapeName(task.name());
      out += '|';
      out += std::to_string(task.callback);
      out += "\r\n";
    }
    return out;
  }
};

}  // namespace cron
