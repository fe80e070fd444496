#include "zip/detail/zip_time.h"

#include <ctime>
#include <mutex>

#include "platform/time_zone_lock.h"

namespace vaultwick {

namespace {

CalendarTime fromTm(const std::tm& fields) {
  return CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                      fields.tm_hour,        fields.tm_min,     fields.tm_sec};
}

}  // namespace

void refreshTimeZone() {
  const std::lock_guard<std::mutex> hold(TimeZoneLock());
  tzset();
}

CalendarTime calendarFromUtc(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm fields{};
  if (gmtime_r(&time, &fields) == nullptr) {
    return CalendarTime{};
  }
  return fromTm(fields);
}

CalendarTime currentLocalCalendar() {
  const std::time_t now = std::time(nullptr);
  std::tm fields{};
  const std::lock_guard<std::mutex> hold(TimeZoneLock());
  if (localtime_r(&now, &fields) == nullptr) {
    return CalendarTime{};
  }
  return fromTm(fields);
}

std::uint32_t toUnixTime(const CalendarTime& time) {
  CalendarTime clamped = time;
  if (clamped.year < 1970) {
    clamped.year = 1970;
    clamped.month = 1;
    clamped.day = 1;
  } else if (clamped.year > 2037) {
    clamped.year = 2037;
    clamped.month = 12;
    clamped.day = 31;
  }
  std::tm fields{};
  fields.tm_sec = clamped.second;
  fields.tm_min = clamped.minute;
  fields.tm_hour = clamped.hour;
  fields.tm_mday = clamped.day;
  fields.tm_mon = clamped.month - 1;
  fields.tm_year = clamped.year - 1900;
  fields.tm_isdst = 0;
  const std::lock_guard<std::mutex> hold(TimeZoneLock());
  return static_cast<std::uint32_t>(std::mktime(&fields));
}

std::uint32_t dosStamp(const CalendarTime& time) {
  CalendarTime t = time;
  if (t.year < 1980) {
    t = CalendarTime{1980, 1, 1, 0, 0, 0};
  } else if (t.year > 2107) {
    t = CalendarTime{2107, 12, 31, 23, 59, 58};
  }
  const auto date = static_cast<std::uint32_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
  const auto clock = static_cast<std::uint32_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
  return (date << 16) | clock;
}

}  // namespace vaultwick
