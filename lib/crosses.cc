// Crosses, extremes and bar counts.
#include <optional>

#include "runtime/indicator.h"

namespace bw::rt {
namespace {

// a > b now and a[1] <= b[1] before; null when a or b is missing now.
struct Crossover {
  std::optional<bool> step(const RuntimeCtx&, const NumSeries& a, const NumSeries& b) {
    if (missing(a[0]) || missing(b[0])) return std::nullopt;
    return a[0] > b[0] && a[1] <= b[1];
  }
};

// a < b now and a[1] >= b[1] before.
struct Crossunder {
  std::optional<bool> step(const RuntimeCtx&, const NumSeries& a, const NumSeries& b) {
    if (missing(a[0]) || missing(b[0])) return std::nullopt;
    return a[0] < b[0] && a[1] >= b[1];
  }
};

// A strict change of side: a previous bar on which a equalled b never completes a cross.
struct Cross {
  std::optional<bool> step(const RuntimeCtx&, const NumSeries& a, const NumSeries& b) {
    if (missing(a[0]) || missing(b[0])) return std::nullopt;
    return (a[0] > b[0] && a[1] < b[1]) || (a[0] < b[0] && a[1] > b[1]);
  }
};

// Steps since cond was last true; null until it first is.
struct Barssince {
  bool seen = false;
  int64_t count = 0;
  std::optional<int64_t> step(const RuntimeCtx&, const BoolSeries& cond) {
    if (cond[0] == std::optional<bool>(true)) {
      seen = true;
      count = 0;
      return 0;
    }
    if (!seen) return std::nullopt;
    return ++count;
  }
};

// The highest of the last n values (ties to the oldest); missing during the first n-1 steps.
struct Highest {
  ExtremeScan scan;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return highest(scan, src, n); }
};
// The lowest of the last n values (ties to the oldest); missing during the first n-1 steps.
struct Lowest {
  ExtremeScan scan;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return lowest(scan, src, n); }
};
// Offset of the highest of the last n values, 0 or negative; null during warm-up.
struct Highestbars {
  ExtremeScan scan;
  std::optional<int64_t> step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    return highestbars(scan, src, n);
  }
};
// Offset of the lowest of the last n values, 0 or negative; null during warm-up.
struct Lowestbars {
  ExtremeScan scan;
  std::optional<int64_t> step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    return lowestbars(scan, src, n);
  }
};

// A pivot: src[right] strictly beyond each of the `left` values before it and the `right` values
// after it (a tie is no pivot), reported on the bar that confirms it, `right` bars later; missing
// on every other step, and when a value of the window is missing.
template <bool High>
double pivot(const NumSeries& src, int64_t left, int64_t right) {
  if (right >= src.length() || src.length() - 1 - right < left) return kNaN;
  const double p = src[right];
  if (missing(p)) return kNaN;
  for (int64_t j = 0; j <= left + right; ++j) {
    if (j == right) continue;
    const double v = src[j];
    if (missing(v) || (High ? v >= p : v <= p)) return kNaN;
  }
  return p;
}
// pivothigh: src rightBars back when it is strictly above the leftBars values before it and the
// rightBars values after it, on the bar that confirms it; missing on every other step.
struct Pivothigh {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t left, int64_t right) {
    return pivot<true>(src, left, right);
  }
};
// pivotlow: src rightBars back when it is strictly below the leftBars values before it and the
// rightBars values after it, on the bar that confirms it; missing on every other step.
struct Pivotlow {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t left, int64_t right) {
    return pivot<false>(src, left, right);
  }
};

}  // namespace

BW_INDICATOR(Crossover, "crossover", "94210a", Group::Crosses,
             "True on the bar where a crosses above b; null when a or b is missing.", first("1"), series("a"),
             series("b"));
BW_INDICATOR(Crossunder, "crossunder", "ed654e", Group::Crosses,
             "True on the bar where a crosses below b; null when a or b is missing.", first("1"), series("a"),
             series("b"));
BW_INDICATOR(Cross, "cross", "0ddf1f", Group::Crosses,
             "True on the bar where a and b cross either way; null when a or b is missing.", first("1"), series("a"),
             series("b"));
BW_INDICATOR(Barssince, "barssince", "a2ae8d", Group::Crosses,
             "Bars since cond was last true; null before it ever was.", first("1"), flags("cond"));
BW_INDICATOR(Highest, "highest", "84f508", Group::Crosses, "Highest value over the last length bars.",
             first("length"), series("src"), length("length", 14));
BW_INDICATOR(Lowest, "lowest", "4e830f", Group::Crosses, "Lowest value over the last length bars.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(Highestbars, "highestbars", "406610", Group::Crosses,
             "Offset (0 or negative) of the highest value over the last length bars.", first("length"), series("src"),
             length("length", 14));
BW_INDICATOR(Lowestbars, "lowestbars", "45ca87", Group::Crosses,
             "Offset (0 or negative) of the lowest value over the last length bars.", first("length"), series("src"),
             length("length", 14));

BW_INDICATOR(Pivothigh, "pivothigh", Group::Crosses,
             "The pivot high confirmed on this bar: src rightBars back, above the leftBars before and rightBars after.",
             firstAtEarliest("leftBars + rightBars + 1"), series("src"), length("leftBars", 10), length("rightBars", 10));
BW_INDICATOR(Pivotlow, "pivotlow", Group::Crosses,
             "The pivot low confirmed on this bar: src rightBars back, below the leftBars before and rightBars after.",
             firstAtEarliest("leftBars + rightBars + 1"), series("src"), length("leftBars", 10), length("rightBars", 10));

}  // namespace bw::rt
