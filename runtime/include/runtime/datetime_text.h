// Date-time texts: pictures, Unix timestamps, reading a date-time from text.
//
// The picture syntax is the platform's date and time picture syntax,
// implemented here so that every platform gives the same bytes. Pure
// functions (ToUnixTimestamp reads the clock): any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/clock.h"

namespace rt {

// Date picture elements: d dd ddd dddd M MM MMM MMMM y yy yyyy, 'quoted'.
// Time picture elements: h hh H HH m mm s ss t tt, 'quoted' (hour24: h counts
// 0-23 as H does). Other characters are copied; names of days and months and
// the am/pm marker are Chinese. A picture shorter than 3 bytes is not used,
// and one whose result passes 49 bytes adds nothing. Empty text when the
// date-time has no calendar record (outside the years 100 to 9999).
std::string FormatDateTime(DateTime dateTime, std::string_view datePicture,
                           std::string_view timePicture, bool hour24);

// "yyyy-MM-dd hh:mm:ss" (24-hour) of a calendar record, for any year.
std::string SystemTimeText(const SystemTime& time);

// Seconds from the fixed base "1970-01-01 08:00:00" (whatever the machine's
// time zone) to the date-time (nullopt: now), as text. tenDigits: the first
// ten bytes only; otherwise three millisecond digits follow, always "000" (a
// date-time is read to the whole second). fillToTen: "0" in front up to ten
// bytes.
std::string ToUnixTimestamp(std::optional<DateTime> dateTime = std::nullopt, bool tenDigits = false,
                            bool fillToTen = false);

// Reads "yyyy-MM-dd HH:mm:ss": numbers of 1 to 4 digits for the year (not
// 0), 1 or 2 for the rest; the date's separators any one non-digit, the same
// twice, and so are the time's; one blank before the time of day, which may
// be left out or written without seconds. kMinimumDate (see runtime/clock.h)
// for anything else or for an impossible date or time.
DateTime TextToDateTime(std::string_view text);

// Units: 1 years, 2 quarters, 3 months, 4 weeks (calendar units, counted as
// boundaries crossed except weeks), 5 days, 6 hours, 7 minutes, 8 seconds
// (first minus second, not truncated). Other units give 0, and so do units 1
// to 3 when either date-time is outside the years 100 to 9999.
double DateTimeDifference(DateTime first, DateTime second, int unit);

}  // namespace rt
