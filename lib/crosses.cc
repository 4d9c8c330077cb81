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

// The extreme of the last n values (ties to the oldest); missing during the first n-1 steps.
struct Highest {
  ExtremeScan scan;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return highest(scan, src, n); }
};
struct Lowest {
  ExtremeScan scan;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return lowest(scan, src, n); }
};
// Offset of that extreme, 0 or negative; null during warm-up.
struct Highestbars {
  ExtremeScan scan;
  std::optional<int64_t> step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    return highestbars(scan, src, n);
  }
};
struct Lowestbars {
  ExtremeScan scan;
  std::optional<int64_t> step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    return lowestbars(scan, src, n);
  }
};

}  // namespace

BW_INDICATOR(Crossover, "Incr_fn_crossover_94210a", series("a"), series("b"));
BW_INDICATOR(Crossunder, "Incr_fn_crossunder_ed654e", series("a"), series("b"));
BW_INDICATOR(Cross, "Incr_fn_cross_0ddf1f", series("a"), series("b"));
BW_INDICATOR(Barssince, "Incr_fn_barssince_a2ae8d", flags("cond"));
BW_INDICATOR(Highest, "Incr_fn_highest_84f508", series("src"), length("length", 14));
BW_INDICATOR(Lowest, "Incr_fn_lowest_4e830f", series("src"), length("length", 14));
BW_INDICATOR(Highestbars, "Incr_fn_highestbars_406610", series("src"), length("length", 14));
BW_INDICATOR(Lowestbars, "Incr_fn_lowestbars_45ca87", series("src"), length("length", 14));

}  // namespace bw::rt
