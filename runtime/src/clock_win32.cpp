#include <windows.h>

#include "runtime/clock.h"

namespace rt {
namespace {

class Win32Clock final : public Clock {
 public:
  SystemTime LocalTime() override {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return {st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
            st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
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
