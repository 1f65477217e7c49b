// Typed values and their conversion to text.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "runtime/text.h"

namespace rt {

// Type codes carried where an interface passes typed values.
enum TypeCode : std::uint32_t {
  kTypeOmitted = 0,
  kTypeHandle = 0x20001,
  kTypeLogical = 0x80000002,
  kTypeDateTime = 0x80000003,
  kTypeText = 0x80000004,
  kTypeBytes = 0x80000005,
  kTypeRoutine = 0x80000006,
  kTypeByte = 0x80000101,
  kTypeInt16 = 0x80000201,
  kTypeInt32 = 0x80000301,
  kTypeInt64 = 0x80000401,
  kTypeFloat = 0x80000501,
  kTypeDouble = 0x80000601,
  kTypeArrayFlag = 0x20000000,
};

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

using Value =
    std::variant<bool, DateTimeValue, std::string, Bytes, RoutinePointer, std::uint8_t,
                 std::int16_t, std::int32_t, std::int64_t, float, double, Array<std::uint8_t>,
                 Array<std::int16_t>, Array<std::int32_t>, Array<std::int64_t>,
                 Array<RoutinePointer>, Array<std::string>, Array<double>>;

TypeCode TypeCodeOf(const Value& value);

// Empty text stands for "none".
std::string ValueToText(const Value& value);

// The bytes before the first zero byte, as a text.
std::string BytesToText(const Bytes& bytes);

// "%d年%d月%d日" followed by as much of the time of day as is not zero.
std::string DateTimeToText(double dateTime, bool dateOnly = false);

// Fixed notation with six decimals, trailing zeros (and a bare point) removed.
std::string RealToText(double value);

}  // namespace rt
