#include <time.h>

#include "runtime/clock.h"

namespace rt {
namespace {

class PosixClock final : public Clock {
 public:
  SystemTime LocalTime() override { return ZonedLocalTime().local; }

  ZonedTime ZonedLocalTime() override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    if (!localtime_r(&now.tv_sec, &local)) return {};
    SystemTime st;
    st.year = local.tm_year + 1900;
    st.month = local.tm_mon + 1;
    st.dayOfWeek = local.tm_wday;
    st.day = local.tm_mday;
    st.hour = local.tm_hour;
    st.minute = local.tm_min;
    st.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // leap second
    st.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return {st, static_cast<std::int32_t>(local.tm_gmtoff)};
  }

  std::optional<std::int32_t> UtcOffsetAt(std::int64_t unixSeconds) override {
    const auto at = static_cast<time_t>(unixSeconds);
    tm local{};
    if (static_cast<std::int64_t>(at) != unixSeconds || !localtime_r(&at, &local)) {
      return std::nullopt;
    }
    return static_cast<std::int32_t>(local.tm_gmtoff);
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

std::int64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

}  // namespace rt
