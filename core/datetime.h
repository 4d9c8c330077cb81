// UTC date-time with nanoseconds: whole seconds since the Unix epoch plus a nanosecond part in
// [0, 1e9). Covers the years -32767 to 32767, the range of std::chrono::year. Calendar arithmetic
// goes through <chrono>; the RFC 3339 writer and reader are our own.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"

namespace bw {

// A date-time split into its calendar fields, in UTC.
struct CivilTime {
  int year = 1970;
  unsigned month = 1;   // 1 .. 12
  unsigned day = 1;     // 1 .. 31
  unsigned hour = 0;    // 0 .. 23
  unsigned minute = 0;  // 0 .. 59
  unsigned second = 0;  // 0 .. 59
  uint32_t nanos = 0;   // 0 .. 999'999'999
};

// ISO 8601 week date: weeks run Monday (1) to Sunday (7); week 1 holds the year's first Thursday.
struct IsoWeekDate {
  int year;
  unsigned week;     // 1 .. 53
  unsigned weekday;  // 1 = Monday .. 7 = Sunday
};

struct DateTime {
  int64_t secs = 0;    // seconds since 1970-01-01T00:00:00Z, floor
  uint32_t nanos = 0;  // 0 .. 999'999'999

  friend constexpr auto operator<=>(const DateTime&, const DateTime&) = default;

  // Seconds of -32767-01-01T00:00:00Z and of 32767-12-31T23:59:59Z.
  static constexpr int64_t kMinSecs = -1096193779200LL;
  static constexpr int64_t kMaxSecs = 971890963199LL;
  static constexpr int64_t kSecsPerDay = 86400;

  static constexpr bool inRange(int64_t secs) { return secs >= kMinSecs && secs <= kMaxSecs; }

  // From whole milliseconds since the epoch; empty outside the representable range.
  static std::optional<DateTime> fromMillis(int64_t ms) {
    int64_t s = ms / 1000;
    int64_t rem = ms % 1000;
    if (rem < 0) {
      rem += 1000;
      s -= 1;
    }
    if (!inRange(s)) return std::nullopt;
    return DateTime{s, static_cast<uint32_t>(rem) * 1'000'000u};
  }

  // Whole seconds × 1000 plus the truncated milliseconds of the fraction.
  constexpr int64_t toMillis() const { return secs * 1000 + static_cast<int64_t>(nanos / 1'000'000u); }

  // From seconds and nanoseconds; empty outside the range or for nanos >= 1e9.
  static std::optional<DateTime> fromSecs(int64_t secs, uint32_t nanos = 0) {
    if (!inRange(secs) || nanos >= 1'000'000'000u) return std::nullopt;
    return DateTime{secs, nanos};
  }
  // Midnight of the day `days` after 1970-01-01 (negative before it); empty outside the range.
  static std::optional<DateTime> fromDays(int64_t days);
  // From calendar fields; empty when a field is out of its range, the day does not exist in
  // that month, or the year lies outside -32767 .. 32767.
  static std::optional<DateTime> fromCivil(const CivilTime& c);
  static std::optional<DateTime> fromCivil(int year, unsigned month, unsigned day, unsigned hour = 0,
                                           unsigned minute = 0, unsigned second = 0, uint32_t nanos = 0) {
    return fromCivil(CivilTime{year, month, day, hour, minute, second, nanos});
  }
  // The current time of the system clock.
  static DateTime now();

  // Calendar fields and day arithmetic.
  CivilTime civil() const;
  int64_t days() const { return floorDiv(secs, kSecsPerDay); }  // days since 1970-01-01
  int64_t secondOfDay() const { return secs - days() * kSecsPerDay; }
  unsigned isoWeekday() const;  // 1 = Monday .. 7 = Sunday
  IsoWeekDate isoWeek() const;

  // Midnight starting this date-time's day, its ISO week (Monday), month and year.
  DateTime startOfDay() const { return DateTime{days() * kSecsPerDay, 0}; }
  DateTime startOfIsoWeek() const;
  DateTime startOfMonth() const;
  DateTime startOfYear() const;

  // Shifted copies; empty when the result leaves the representable range. Months and years keep
  // the day of the month where it exists and otherwise clamp it to the month's last day
  // (2024-01-31 + 1 month is 2024-02-29); the time of day is kept.
  std::optional<DateTime> plusSeconds(int64_t n) const;
  std::optional<DateTime> plusDays(int64_t n) const;
  std::optional<DateTime> plusWeeks(int64_t n) const;
  std::optional<DateTime> plusMonths(int64_t n) const;
  std::optional<DateTime> plusYears(int64_t n) const;

  // RFC 3339 text: "2024-03-01T09:30:00.250+00:00". The fraction appears only when the
  // nanoseconds are not zero, with 3 digits for whole milliseconds, 6 for whole microseconds,
  // else 9. Years outside 0 .. 9999 carry a sign and at least four digits ("+10000", "-0001").
  std::string toRfc3339() const;
  // The same text ending in "Z" instead of "+00:00": the form used inside debug texts.
  std::string debug() const;

  // Reads an RFC 3339 date-time: a four-digit year, "-", month, "-", day, a separator "T", "t"
  // or a space, hours ":" minutes ":" seconds, an optional fraction (digits past the ninth are
  // ignored), then "Z", "z" or a numeric offset "+hh:mm" / "-hh:mm" up to 23:59, and nothing
  // after. The result is converted to UTC. The failure reason is one of "input contains invalid
  // characters", "premature end of input", "trailing input" or "input is out of range".
  static Result<DateTime> parseRfc3339(std::string_view text);

 private:
  static constexpr int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
  }
};

// Why an RFC 3339 text did not read as a date-time. The last two cannot arise from a full
// RFC 3339 text; they complete the set of reasons a date-time reader can give.
enum class DateParseError {
  Invalid,     // "input contains invalid characters"
  TooShort,    // "premature end of input"
  TooLong,     // "trailing input"
  OutOfRange,  // "input is out of range"
  Impossible,  // "no possible date and time matching input"
  NotEnough,   // "input is not enough for unique date and time"
};

std::string_view dateParseErrorText(DateParseError e);

// A fraction of a second as text: nothing when zero, else "." and 3, 6 or 9 digits, the fewest
// that show it exactly.
void appendFraction(std::string& out, uint32_t nanos);

}  // namespace bw
