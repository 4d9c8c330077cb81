// UTC date-time with nanoseconds: whole seconds since the Unix epoch plus a nanosecond part in
// [0, 1e9). Covers the years -32767 to 32767, the range of std::chrono::year.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"

namespace bw {

struct DateTime {
  int64_t secs = 0;    // seconds since 1970-01-01T00:00:00Z, floor
  uint32_t nanos = 0;  // 0 .. 999'999'999

  friend constexpr auto operator<=>(const DateTime&, const DateTime&) = default;

  // Seconds of -32767-01-01T00:00:00Z and of 32767-12-31T23:59:59Z.
  static constexpr int64_t kMinSecs = -1096193865600LL;
  static constexpr int64_t kMaxSecs = 971890963199LL;

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
};

}  // namespace bw
