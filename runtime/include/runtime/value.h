// Typed values and their conversion to text. Pure functions: any thread.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "runtime/text.h"

namespace rt {

// A date-time as a value kind: days since 1899-12-30, fraction = time of day.
struct DateTimeValue {
  double days;
};
struct RoutinePointer {
  std::intptr_t address;
};
template <class T>
struct Array {
  std::vector<T> elements;
};

// The kinds a typed value may hold, each array kind after the plain ones.
using Value =
    std::variant<bool, DateTimeValue, std::string, Bytes, RoutinePointer, std::uint8_t,
                 std::int16_t, std::int32_t, std::int64_t, float, double, Array<std::uint8_t>,
                 Array<std::int16_t>, Array<std::int32_t>, Array<std::int64_t>,
                 Array<RoutinePointer>, Array<std::string>, Array<double>>;

// The value as text: truths as "真" or "假", numbers in decimal (reals as
// RealToText), date-times as DateTimeToText, arrays of bytes and integers as
// their bytes up to the first zero (routine pointers as 32-bit words). Arrays
// of texts or reals have none: empty text.
std::string ValueToText(const Value& value);

// The bytes before the first zero byte, as a text.
std::string BytesToText(const Bytes& bytes);

// "%d年%d月%d日" followed by as much of the time of day as is not zero
// ("%d时", "%d时%d分" or "%d时%d分%d秒"), to the nearest second; empty for a
// value that is not finite or whose year would not fit an int.
std::string DateTimeToText(double dateTime, bool dateOnly = false);

// Fixed notation with six decimals, trailing zeros (and a bare point) removed.
std::string RealToText(double value);

}  // namespace rt
