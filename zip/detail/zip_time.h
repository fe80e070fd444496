#pragma once

// Time stamps of members. A file's modification time goes into the DOS stamp as
// the calendar fields of its UTC time; the "UT" times are the same fields read
// back as local time. Archives already made carry stamps made this way, so the
// conversions stay as they are even where they look odd.

#include <cstdint>

namespace vaultwick {

struct CalendarTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Rereads the time zone from the environment (TZ), so that later conversions use
// the zone as it is now.
void refreshTimeZone();

// The calendar fields of a UTC time in seconds since 1970.
CalendarTime calendarFromUtc(std::int64_t seconds);
// The current local time as calendar fields.
CalendarTime currentLocalCalendar();

// The fields read as local time without daylight saving; years are clamped to
// 1970..2037 keeping the time of day. 0xFFFFFFFF when the time cannot be represented.
std::uint32_t toUnixTime(const CalendarTime& time);

// DOS date in the high half, DOS time (2-second steps) in the low half. Times before
// 1980 become the first DOS time, times after 2107 the last one.
std::uint32_t dosStamp(const CalendarTime& time);

}  // namespace vaultwick
