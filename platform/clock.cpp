#include "platform/clock.h"

#include <time.h>

namespace vaultwick {
namespace {

LocalTime FromTm(const struct tm& parts) {
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::optional<LocalTime> BreakDown(WallTime moment,
                                   struct tm* (*convert)(const time_t*, struct tm*)) {
  const time_t seconds = std::chrono::system_clock::to_time_t(moment);
  struct tm parts {};
  if (convert(&seconds, &parts) == nullptr) {
    return std::nullopt;
  }
  return FromTm(parts);
}

struct tm ToTm(const LocalTime& local) {
  struct tm parts {};
  parts.tm_year = local.year - 1900;
  parts.tm_mon = local.month - 1;
  parts.tm_mday = local.day;
  parts.tm_hour = local.hour;
  parts.tm_min = local.minute;
  parts.tm_sec = local.second;
  parts.tm_isdst = -1;
  return parts;
}

std::optional<WallTime> FromSeconds(time_t seconds) {
  if (seconds == static_cast<time_t>(-1)) {
    return std::nullopt;
  }
  return WallTime(std::chrono::seconds(seconds));
}

// Reads exactly `digits` decimal digits at text[at]; a sign is no digit.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : text.substr(at, digits)) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

WallTime SystemClock::Now() const {
  return std::chrono::system_clock::now();
}

std::optional<LocalTime> SystemClock::ToLocalTime(WallTime moment) const {
  return BreakDown(moment, localtime_r);
}

std::optional<WallTime> SystemClock::FromLocalTime(const LocalTime& local) const {
  struct tm parts = ToTm(local);
  return FromSeconds(::mktime(&parts));
}

WallTime TestClock::Now() const {
  return WallTime(std::chrono::seconds(seconds_.load()));
}

std::optional<LocalTime> TestClock::ToLocalTime(WallTime moment) const {
  return BreakDown(moment, gmtime_r);
}

std::optional<WallTime> TestClock::FromLocalTime(const LocalTime& local) const {
  struct tm parts = ToTm(local);
  return FromSeconds(::timegm(&parts));
}

void TestClock::Set(const LocalTime& moment) {
  struct tm parts = ToTm(moment);
  seconds_.store(static_cast<std::int64_t>(timegm(&parts)));
}

std::optional<LocalTime> ParseLocalTime(std::string_view text) {
  // Offsets of the fields in "YYYY-MM-DDTHH:MM:SS" and the separators between them.
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 ||
      *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  return LocalTime{*year, *month, *day, *hour, *minute, *second};
}

std::int64_t ToUnixSeconds(WallTime moment) {
  return std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
}

}  // namespace vaultwick
