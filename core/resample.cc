#include "core/resample.h"

#include <string>

#include "core/bar_index.h"

namespace bw {

namespace {

// Remainder of a division truncated toward zero: it has the sign of the dividend, so buckets
// before 1970 start at or after their bars.
constexpr int64_t rem(int64_t a, int64_t n) { return a % n; }

constexpr int64_t floorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

Error missingOpenTime(size_t i) {
  return invalidArg("resample: bar " + std::to_string(i) + " has no open time, which time-based resampling needs");
}

Ohlcv byCount(const Ohlcv& src, const Timeframe& tf) {
  Ohlcv out;
  out.timeframe = tf;
  const uint64_t n = tf.count;
  if (n == 0) {
    out.bars = src.bars;
    return out;
  }
  out.bars.reserve(static_cast<size_t>(src.bars.size() / n + 1));
  uint64_t filled = 0;
  for (const OhlcvBar& b : src.bars) {
    if (filled == 0)
      out.bars.push_back(b);
    else
      out.bars.back().absorb(b);
    if (++filled == n) filled = 0;
  }
  return out;
}

Result<Ohlcv> calendar(const Ohlcv& src, const Timeframe& tf) {
  const TimeUnit unit = tf.unit;
  // The count enters the bucket formulas as a 32-bit integer.
  const int32_t n = toInt32(tf.count);
  if (unit != TimeUnit::Unknown && n < 1)
    return invalidArg("resample: calendar buckets need a count of at least 1, got " + std::to_string(n) + " (" +
                      tf.toString() + ")");
  Ohlcv out;
  out.timeframe = tf;

  // Days and Hours buckets close a fixed length after they open; the others keep the latest
  // close time of their bars.
  auto closeGroup = [&](OhlcvBar& g) -> Result<Unit> {
    if (unit != TimeUnit::Days && unit != TimeUnit::Hours) return okUnit();
    const auto end = unit == TimeUnit::Days ? g.openTime->plusDays(n) : g.openTime->plusSeconds(int64_t{n} * 3600);
    if (!end)
      return invalidArg("resample: the bucket opening at " + g.openTime->debug() + " closes " + tf.toString() +
                        " later, outside the date range");
    g.closeTime = end;
    return okUnit();
  };

  // Year, month, week and day buckets depend on the date alone: bars of one day share one
  // calendar computation.
  const bool byDate = unit == TimeUnit::Years || unit == TimeUnit::Months || unit == TimeUnit::Weeks ||
                      unit == TimeUnit::Days;
  int64_t memoDay = 0;
  std::optional<DateTime> memoStart;

  DateTime key{};
  bool open = false;
  for (size_t i = 0; i < src.bars.size(); ++i) {
    const OhlcvBar& b = src.bars[i];
    if (!b.openTime) return missingOpenTime(i);
    std::optional<DateTime> start;
    if (byDate && memoStart && b.openTime->days() == memoDay) {
      start = memoStart;
    } else {
      start = bucketStart(*b.openTime, unit, n);
      memoDay = b.openTime->days();
      memoStart = start;
    }
    if (!start)
      return invalidArg("resample: the bucket of bar " + std::to_string(i) + " starts outside the date range");
    if (open && *start == key) {
      out.bars.back().absorb(b);
      continue;
    }
    if (open) BW_TRY(closeGroup(out.bars.back()));
    out.bars.push_back(OhlcvBar{*start, b.closeTime, b.open, b.high, b.low, b.close, b.volume});
    key = *start;
    open = true;
  }
  if (open) BW_TRY(closeGroup(out.bars.back()));
  return out;
}

Result<Ohlcv> windows(const Ohlcv& src, const Timeframe& tf) {
  if (tf.unit == TimeUnit::Unknown) return invalidArg("Unknown timeframe");
  auto length = tf.durationSeconds();
  if (!length.ok())
    return invalidArg("resample: the window length of " + tf.toString() + " lies outside the representable range");
  const int64_t L = *length;
  Ohlcv out;
  out.timeframe = tf;

  DateTime end{};
  for (size_t i = 0; i < src.bars.size(); ++i) {
    const OhlcvBar& b = src.bars[i];
    if (!b.openTime) return missingOpenTime(i);
    // A bar joins the open window while it opens strictly before the window's end; the window
    // start stays where the window's first bar put it.
    if (!out.bars.empty() && *b.openTime < end) {
      out.bars.back().absorb(b);
      continue;
    }
    const auto e = b.openTime->plusSeconds(L);
    if (!e)
      return invalidArg("resample: the window starting at bar " + std::to_string(i) + " (" + b.openTime->debug() +
                        ") ends outside the date range");
    end = *e;
    out.bars.push_back(b);
  }
  return out;
}

}  // namespace

std::optional<DateTime> bucketStart(const DateTime& t, TimeUnit unit, int32_t n) {
  switch (unit) {
    case TimeUnit::Years: {
      const int64_t y = t.civil().year;
      return DateTime::fromCivil(static_cast<int>(y - rem(y - 1970, n)), 1, 1);
    }
    case TimeUnit::Months: {
      const CivilTime c = t.civil();
      const int64_t k = 12 * (int64_t{c.year} - 1970) + (c.month - 1);
      const int64_t start = k - rem(k, n);
      const int64_t years = floorDiv(start, 12);
      return DateTime::fromCivil(static_cast<int>(1970 + years), static_cast<unsigned>(start - 12 * years + 1), 1);
    }
    case TimeUnit::Weeks: {
      const int64_t monday = t.days() - (static_cast<int64_t>(t.isoWeekday()) - 1);
      if (n == 1) return DateTime::fromDays(monday);
      const int64_t w = (monday - 4) / 7;  // whole weeks from Monday 1970-01-05; exact
      return DateTime::fromDays(monday - 7 * rem(w, n));
    }
    case TimeUnit::Days: {
      const int64_t d = t.days();
      return DateTime::fromDays(n == 1 ? d : d - rem(d, n));
    }
    case TimeUnit::Hours:
    case TimeUnit::Minutes:
    case TimeUnit::Seconds: {
      // Buckets restart each day, hour and minute respectively.
      const int64_t sod = t.secondOfDay();
      int64_t h = sod / 3600, m = sod / 60 % 60, s = sod % 60;
      if (unit == TimeUnit::Hours) {
        h -= h % n;
        m = s = 0;
      } else if (unit == TimeUnit::Minutes) {
        m -= m % n;
        s = 0;
      } else {
        s -= s % n;
      }
      return DateTime::fromSecs(t.startOfDay().secs + h * 3600 + m * 60 + s);
    }
    case TimeUnit::Unknown:
      return t;
    case TimeUnit::Ticks:
    case TimeUnit::Ranges:
      break;
  }
  return std::nullopt;
}

Result<Ohlcv> resample(const Ohlcv& src, const Timeframe& tf, bool align) {
  if (tf.unit == TimeUnit::Ticks || tf.unit == TimeUnit::Ranges) return byCount(src, tf);
  if (align) return calendar(src, tf);
  return windows(src, tf);
}

}  // namespace bw
