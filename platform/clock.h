#pragma once

// The scheduler's view of time, behind a small interface so that tests can
// put it at any hour: the system clock for the programs, a clock that stands
// where a test puts it for the tests.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vaultwick {

using WallTime = std::chrono::system_clock::time_point;

// A moment broken down as the clock's zone sees it.
struct LocalTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;   // 0 to 23
  int minute = 0;
  int second = 0;
  bool operator==(const LocalTime&) const = default;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual WallTime Now() const = 0;
  // nullopt when the moment cannot be broken down.
  virtual std::optional<LocalTime> ToLocalTime(WallTime moment) const = 0;
  // The moment a local time names (a time the zone skips or repeats names
  // the one the C library picks); nullopt when there is none.
  virtual std::optional<WallTime> FromLocalTime(const LocalTime& local) const = 0;
};

// The system's clock in the process's time zone.
class SystemClock final : public Clock {
 public:
  WallTime Now() const override;
  std::optional<LocalTime> ToLocalTime(WallTime moment) const override;
  std::optional<WallTime> FromLocalTime(const LocalTime& local) const override;
};

// A clock that stands still until it is set or advanced; its zone is UTC, so
// a test means the same hour on every machine. Safe to read from any thread.
class TestClock final : public Clock {
 public:
  explicit TestClock(const LocalTime& start = {}) { Set(start); }
  WallTime Now() const override;
  std::optional<LocalTime> ToLocalTime(WallTime moment) const override;
  std::optional<WallTime> FromLocalTime(const LocalTime& local) const override;
  void Set(const LocalTime& moment);
  void Advance(std::chrono::seconds step) { seconds_.fetch_add(step.count()); }

 private:
  std::atomic<std::int64_t> seconds_{0};
};

// "YYYY-MM-DDTHH:MM:SS" (a space may stand for the T); nullopt for anything else.
std::optional<LocalTime> ParseLocalTime(std::string_view text);

// Seconds since 1970 of a wall time, as the store keeps them.
std::int64_t ToUnixSeconds(WallTime moment);

}  // namespace vaultwick
