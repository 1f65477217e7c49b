// Typed values and their conversion to text.
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

// Empty text stands for "none".
std::string ValueToText(const Value& value);

// The bytes before the first zero byte, as a text.
std::string BytesToText(const Bytes& bytes);

// "%d年%d月%d日" followed by as much of the time of day as is not zero.
std::string DateTimeToText(double dateTime, bool dateOnly = false);

// Fixed notation with six decimals, trailing zeros (and a bare point) removed.
std::string RealToText(double value);

}  // namespace rt
