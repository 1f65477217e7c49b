#include "runtime/file.h"

#include <algorithm>

namespace rt {

double DelayMilliseconds(int interval, int unit) {
  static constexpr double kMultiplier[] = {1, 1000, 60000, 3600000};
  const double m = unit >= 0 && unit <= 3 ? kMultiplier[unit] : unit;
  // In double: 2147483647 hours must not wrap into a wait that is over at once.
  return std::min(interval * m, kMaxDelayMs);
}

}  // namespace rt
