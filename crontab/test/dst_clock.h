// For tests: a clock in a zone with daylight saving, UTC+1 in winter and
// UTC+2 from 2026-03-29 01:00 UTC to 2026-10-25 01:00 UTC (local 02:00 ->
// 03:00 in spring, 03:00 -> 02:00 in autumn). Set it by UTC instant.
#pragma once

#include <mutex>

#include "crontab/schedule.h"

namespace cron::test {

class DstClock final : public rt::Clock {
 public:
  static constexpr std::int64_t kUnixEpoch = rt::kUnixEpochDay * 86400;

  // Instants on the LocalSeconds scale, UTC.
  static std::int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
    return LocalSeconds({y, mo, 0, d, h, mi, s, 0});
  }
  static std::int32_t OffsetOf(std::int64_t instant) {
    return instant >= Utc(2026, 3, 29, 1, 0, 0) && instant < Utc(2026, 10, 25, 1, 0, 0) ? 7200
                                                                                        : 3600;
  }

  rt::SystemTime LocalTime() override { return ZonedLocalTime().local; }
  rt::ZonedTime ZonedLocalTime() override {
    std::lock_guard lock(mutex_);
    rt::SystemTime local = TimeFromLocalSeconds(instant_ + OffsetOf(instant_));
    local.milliseconds = ms_;
    return {local, OffsetOf(instant_)};
  }
  std::optional<std::int32_t> UtcOffsetAt(std::int64_t unixSeconds) override {
    return OffsetOf(unixSeconds + kUnixEpoch);
  }
  void SetUtc(std::int64_t instant, int ms = 5) {
    std::lock_guard lock(mutex_);
    instant_ = instant;
    ms_ = ms;
  }

 private:
  std::mutex mutex_;
  std::int64_t instant_ = Utc(2026, 3, 29, 0, 0, 0);
  int ms_ = 5;
};

}  // namespace cron::test
