#include "runtime/value.h"

#include <gtest/gtest.h>

#include "runtime/clock.h"

namespace rt {
namespace {

TEST(ValueToText, Kinds) {
  struct Case {
    Value value;
    std::string expected;
  } cases[] = {
      {true, "真"},
      {false, "假"},
      {std::uint8_t{0xFF}, "255"},
      {static_cast<std::int16_t>(-1), "-1"},
      {std::int32_t{0}, "0"},
      {std::int64_t{-9000000000}, "-9000000000"},
      {1234.5, "1234.5"},
      {100.0, "100"},
      {-0.5, "-0.5"},
      {0.0, "0"},
      {0.0000004, "0"},
      {1796518800.0, "1796518800"},
      {1.5f, "1.5"},
      {std::string("abc"), "abc"},
      {Bytes{'a', 'b', 0, 'c', 'd'}, "ab"},
      {Bytes{0, 'a'}, ""},
      {Bytes{}, ""},
      {Bytes{'x', 'y'}, "xy"},
      {RoutinePointer{1234}, "1234"},
      {DateTimeValue{MakeDateTime(1900, 1, 1, 8)}, "1900年1月1日8时"},
      {Array<std::uint8_t>{{'h', 'i', 0, 'x'}}, "hi"},
      {Array<std::int16_t>{{0x6968, 0x0021}}, "hi!"},
      {Array<std::int32_t>{{0x00216968}}, "hi!"},
      {Array<std::int64_t>{{}}, ""},
      {Array<std::string>{{"a"}}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValueToText(c.value), c.expected) << "kind " << c.value.index();
  }
}

TEST(DateTimeToText, TimeParts) {
  const double day = MakeDateTime(1900, 1, 1);
  struct Case {
    double dt;
    bool dateOnly;
    std::string expected;
  } cases[] = {
      {MakeDateTime(1900, 1, 1, 8), false, "1900年1月1日8时"},
      {MakeDateTime(1900, 1, 1, 8, 5), false, "1900年1月1日8时5分"},
      {MakeDateTime(1900, 1, 1, 0, 5), false, "1900年1月1日0时5分"},
      {MakeDateTime(1900, 1, 1, 0, 0, 5), false, "1900年1月1日0时0分5秒"},
      {day, false, "1900年1月1日"},
      {MakeDateTime(1900, 1, 1, 8, 5), true, "1900年1月1日"},
      {0.0, false, "1899年12月30日"},
      {1.0, false, "1899年12月31日"},
      {-1.25, false, "1899年12月29日6时"},
      {MakeDateTime(2026, 12, 6, 9, 1, 1), false, "2026年12月6日9时1分1秒"},
      {MakeDateTime(2000, 2, 29), false, "2000年2月29日"},
      {MakeDateTime(9999, 12, 31), false, "9999年12月31日"},
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeToText(c.dt, c.dateOnly), c.expected) << c.dt;
}

// Every day from 1600 to 2400 reads back as the date it was made from,
// including 31 December of the years before 1899.
TEST(DateTimeToText, AgreesWithCalendarBothSidesOfEpoch) {
  EXPECT_EQ(DateTimeToText(-364), "1898年12月31日");
  EXPECT_EQ(DateTimeToText(-365), "1898年12月30日");
  for (int year = 1600; year <= 2400; year += year < 1890 || year > 1910 ? 7 : 1) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 28, DaysInMonth(year, month)}) {
        const std::string expected =
            std::to_string(year) + "年" + std::to_string(month) + "月" + std::to_string(day) + "日";
        ASSERT_EQ(DateTimeToText(MakeDateTime(year, month, day)), expected);
      }
    }
  }
}

TEST(DateTimeToText, NonFiniteGivesNothing) {
  EXPECT_EQ(DateTimeToText(1e300), "");
  EXPECT_EQ(DateTimeToText(std::numeric_limits<double>::quiet_NaN()), "");
}

}  // namespace
}  // namespace rt
