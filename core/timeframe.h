// How much market time one bar covers: a count of a calendar or clock unit, of ticks or of
// ranges, or nothing known.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.h"

namespace bw {

// Held in this order; the order is also the numeric tag 0..9.
enum class TimeUnit : uint8_t { Years, Months, Weeks, Days, Hours, Minutes, Seconds, Ticks, Ranges, Unknown };

struct Timeframe {
  TimeUnit unit = TimeUnit::Unknown;
  uint64_t count = 0;  // printed unsigned; read as signed for lengths

  static constexpr Timeframe of(TimeUnit u, int64_t n) {
    return u == TimeUnit::Unknown ? Timeframe{} : Timeframe{u, static_cast<uint64_t>(n)};
  }
  static constexpr Timeframe unknown() { return Timeframe{}; }

  bool isUnknown() const { return unit == TimeUnit::Unknown; }
  bool isTimeBased() const { return unit <= TimeUnit::Seconds; }
  int64_t signedCount() const { return static_cast<int64_t>(count); }

  // "15m", "1D", "?". Never fails.
  std::string toString() const;
  // "Days(1)", "Unknown".
  std::string debug() const;
  // Never fails: text that does not parse is Unknown.
  static Timeframe fromString(std::string_view text);
  // Never fails: lengths that fit no unit are Unknown.
  static Timeframe fromDurationSeconds(int64_t seconds);
  // count × seconds per count; fails for Ticks, Ranges and Unknown ("Invalid timeframe") and for
  // lengths whose magnitude exceeds kMaxDurationSeconds.
  Result<int64_t> durationSeconds() const;

  // The range of a millisecond count in a signed 64-bit integer, in seconds.
  static constexpr int64_t kMaxDurationSeconds = 9223372036854775LL;

  friend bool operator==(const Timeframe& a, const Timeframe& b) {
    if (a.unit != b.unit) return false;
    return a.unit == TimeUnit::Unknown || a.count == b.count;
  }
};

// Seconds per count for the seven time units, 0 for the others.
int64_t secondsPerUnit(TimeUnit u);
std::string_view unitName(TimeUnit u);

}  // namespace bw
