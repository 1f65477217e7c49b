#include <windows.h>

#include <cstdint>
#include <optional>

#include "runtime/clock.h"

namespace rt {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kUnixEpochTicks = 116'444'736'000'000'000;  // 1970-01-01 in FILETIME ticks

std::int64_t Ticks(const FILETIME& ft) {
  return static_cast<std::int64_t>((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
}

// The offset of the local time the zone gives a UTC instant, in seconds.
std::optional<std::int32_t> OffsetOf(const SYSTEMTIME& utc, SYSTEMTIME* localOut) {
  SYSTEMTIME local{};
  FILETIME u{}, l{};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) || !SystemTimeToFileTime(&utc, &u) ||
      !SystemTimeToFileTime(&local, &l)) {
    return std::nullopt;
  }
  if (localOut) *localOut = local;
  return static_cast<std::int32_t>((Ticks(l) - Ticks(u)) / kTicksPerSecond);
}

SystemTime Record(const SYSTEMTIME& st) {
  return {st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
          st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
}

class Win32Clock final : public Clock {
 public:
  SystemTime LocalTime() override {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return Record(st);
  }

  ZonedTime ZonedLocalTime() override {
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    const auto offset = OffsetOf(utc, &local);
    if (!offset) return {LocalTime(), std::nullopt};
    local.wMilliseconds = utc.wMilliseconds;
    return {Record(local), offset};
  }

  std::optional<std::int32_t> UtcOffsetAt(std::int64_t unixSeconds) override {
    if (unixSeconds < -11'644'473'600 || unixSeconds > 910'000'000'000) return std::nullopt;
    const std::int64_t ticks = kUnixEpochTicks + unixSeconds * kTicksPerSecond;
    FILETIME ft{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    if (!FileTimeToSystemTime(&ft, &utc)) return std::nullopt;
    return OffsetOf(utc, nullptr);
  }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

std::int64_t MonotonicMilliseconds() {
  return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace rt
