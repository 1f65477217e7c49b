#include "runtime/file.h"

namespace rt {

double DelayMilliseconds(int interval, int unit) {
  static constexpr double kMultiplier[] = {1, 1000, 60000, 3600000};
  const double m = unit >= 0 && unit <= 3 ? kMultiplier[unit] : unit;
  return interval * m;
}

}  // namespace rt
