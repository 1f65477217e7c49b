#include "runtime/datetime_text.h"

#include <gtest/gtest.h>

namespace rt {
namespace {

struct FormatCase {
  DateTime when;
  const char* datePicture;
  const char* timePicture;
  bool hour24;
  const char* expected;
};

TEST(FormatDateTime, Pictures) {
  const DateTime morning = MakeDateTime(2026, 12, 6, 9, 1, 1);
  const DateTime evening = MakeDateTime(2026, 12, 6, 21, 5, 0);
  const FormatCase cases[] = {
      // The application's three pictures.
      {morning, "dd", " hh:mm", true, " 09:01"},
      {morning, "yyyy-MM-dd ", "hh:", true, "2026-12-06 09:"},
      {morning, "yyyy-MM-dd", " hh:mm:ss", true, "2026-12-06 09:01:01"},
      // Three bytes are enough for a picture to be used.
      {morning, "ddd", "", true, "周日"},
      {morning, "dd.", "", true, "06."},
      {evening, "", "hh:mm", true, "21:05"},
      {evening, "", "hh:mm", false, "09:05"},
      {evening, "", "HH:mm", false, "21:05"},
      {evening, "", "h:m:s tt", false, "9:5:0 下午"},
      {morning, "", "h:m:s t", false, "9:1:1 上"},
      {morning, "y/M/d", "", true, "26/12/6"},
      {morning, "yy MMMM dddd", "", true, "26 十二月 星期日"},
      {morning, "MMM", "", true, "12月"},
      // Quoted literals, and elements of the other kind are copied.
      {morning, "'yyyy'yyyy''", "", true, "yyyy2026'"},
      {morning, "yyyy hh", "dd hh", true, "2026 hhdd 09"},
      // Double-byte characters are copied whole, even when a trail byte
      // looks like a picture letter (0x64 is "d").
      {morning, "yyyy\xB0\x64", "", true, "2026\xB0\x64"},
      {MakeDateTime(100, 1, 1), "yyyy-MM-dd", " HH:mm:ss", true, "0100-01-01 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTime(c.when, c.datePicture, c.timePicture, c.hour24), c.expected)
        << c.datePicture << "|" << c.timePicture;
  }
}

TEST(FormatDateTime, NoCalendarRecordOrNoRoom) {
  EXPECT_EQ(FormatDateTime(MakeDateTime(99, 12, 31), "yyyy", "hh:mm", true), "");
  EXPECT_EQ(FormatDateTime(MakeDateTime(10000, 1, 1), "yyyy", "hh:mm", true), "");
  // A picture whose text would not fit is left out.
  EXPECT_EQ(FormatDateTime(MakeDateTime(2026, 1, 2), std::string(50, 'x'), "hh:", true), "00:");
  EXPECT_EQ(FormatDateTime(MakeDateTime(2026, 1, 2), "dd" + std::string(47, 'x'), "", true),
            "02" + std::string(47, 'x'));
}

TEST(ToUnixTimestamp, FixedBase) {
  struct Case {
    DateTime when;
    bool tenDigits;
    bool fillToTen;
    const char* expected;
  };
  const DateTime hour = MakeDateTime(2026, 12, 6, 9, 0, 0);
  const DateTime base = MakeDateTime(1970, 1, 1, 8, 0, 0);
  const Case cases[] = {
      {hour, true, true, "1796518800"},
      {hour, true, false, "1796518800"},
      {hour, false, false, "1796518800000"},
      {base, true, true, "0000000000"},
      {base, false, false, "0000"},
      {base, false, true, "0000000000000"},
      {MakeDateTime(1970, 1, 1, 8, 1, 40), true, true, "0000000100"},
      {MakeDateTime(1970, 1, 1, 0, 0, 0), false, false, "-28800000"},
      {MakeDateTime(1900, 1, 1), true, true, "-220901760"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUnixTimestamp(c.when, c.tenDigits, c.fillToTen), c.expected) << c.expected;
  }
}

TEST(ToUnixTimestamp, WholeSecondsStayWholeInEveryYear) {
  // Seconds since the base by integer arithmetic, against the text: no year
  // may bring a fraction in (2060 and later once did: 2840112047.000001000).
  const auto daysFromCivil = [](long long y, long long m, long long d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  };
  for (int year = 1970; year <= 9999; year += 7) {
    for (const int month : {1, 2, 7, 12}) {
      const int day = 1 + (year + month) % 28;
      const int hour = (year + month) % 24, minute = year % 60, second = (year / 7 + month) % 60;
      const long long seconds =
          daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - 8 * 3600;
      const DateTime when = MakeDateTime(year, month, day, hour, minute, second);
      EXPECT_EQ(ToUnixTimestamp(when), std::to_string(seconds) + "000")
          << year << "-" << month << "-" << day << " " << hour << ":" << minute << ":" << second;
    }
  }
  EXPECT_EQ(ToUnixTimestamp(MakeDateTime(2060, 1, 1, 8, 0, 47)), "2840140847000");
}

TEST(ToUnixTimestamp, NowHasThirteenDigits) {
  EXPECT_EQ(ToUnixTimestamp().size(), 13u);
  EXPECT_EQ(ToUnixTimestamp(std::nullopt, true).size(), 10u);
}

TEST(TextToDateTime, ReadsAndChecks) {
  struct Case {
    const char* text;
    DateTime expected;
  };
  const Case cases[] = {
      {"1970-01-01 08:00:00", MakeDateTime(1970, 1, 1, 8, 0, 0)},
      {"2024-02-29 10:00:00", MakeDateTime(2024, 2, 29, 10, 0, 0)},
      {"2000-02-29 23:59:59", MakeDateTime(2000, 2, 29, 23, 59, 59)},
      {"2026/12/06 09.30", MakeDateTime(2026, 12, 6, 9, 30, 0)},
      {"2026-12-06", MakeDateTime(2026, 12, 6)},
      {"0100-01-01 00:00:00", kMinimumDate},
      {"2026-02-29 10:00:00", kMinimumDate},
      {"1900-02-29 10:00:00", kMinimumDate},
      {"2026-12-06 24:00:00", kMinimumDate},
      {"2026-12-06 23:60:00", kMinimumDate},
      {"2026-12-06 23:00:60", kMinimumDate},
      {"2026-13-06 00:00:00", kMinimumDate},
      {"2026-00-06 00:00:00", kMinimumDate},
      {"2026-04-31 00:00:00", kMinimumDate},
      {"0000-01-01 00:00:00", kMinimumDate},
      {"2026-12/06 00:00:00", kMinimumDate},
      {"2026-12-06 00:00-00", kMinimumDate},
      {"2026-12-06T00:00:00", kMinimumDate},
      {"2026-12-06 00:00:00x", kMinimumDate},
      {"20261-12-06 00:00:00", kMinimumDate},
      {"1-1-1 0:0", MakeDateTime(1, 1, 1)},
      {"206-1-6", kMinimumDate},  // seven bytes
      {"", kMinimumDate},
      {"abcdefghijk", kMinimumDate},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(TextToDateTime(c.text), c.expected) << c.text;
  }
  EXPECT_DOUBLE_EQ(kMinimumDate, MakeDateTime(100, 1, 1));
}

TEST(DateTimeDifference, Units) {
  const DateTime a = MakeDateTime(2026, 12, 6, 9, 0, 0);
  const DateTime b = MakeDateTime(2025, 11, 30, 21, 0, 0);
  const double days = a - b;
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 5), days);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 6), days * 24);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 7), days * 1440);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 8), days * 86400);
  EXPECT_DOUBLE_EQ(DateTimeDifference(b, a, 8), -days * 86400);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 4), days / 7);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 3), 13);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 2), 4);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 1), 1);
  EXPECT_DOUBLE_EQ(DateTimeDifference(a, b, 9), 0);
  // Half a second stays half a second.
  EXPECT_DOUBLE_EQ(DateTimeDifference(0.5 / 86400, 0, 8), 0.5);
}

}  // namespace
}  // namespace rt
