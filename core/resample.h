// Resampling: combining the bars of a series into coarser bars, by count of bars (ticks and
// ranges), by calendar-aligned buckets, or by fixed windows that start at each group's first bar.
#pragma once

#include "core/error.h"
#include "core/ohlcv.h"
#include "core/timeframe.h"

namespace bw {

// A new series labelled `tf` whose bars are the groups in the order they closed; `src` is left
// alone. Ticks and Ranges group every n bars whatever `align` says; otherwise `align` chooses
// calendar buckets (which also serve Unknown: identical open times only) over fixed windows.
// Fails, naming what was wrong, for a bar without open time under a time-based grouping, a
// calendar count below 1, fixed windows for Unknown, and window ends or bucket close times
// outside the date range.
Result<Ohlcv> resample(const Ohlcv& src, const Timeframe& tf, bool align);

// The start of the calendar bucket holding `t` for `unit` and count `n` (n >= 1 except for
// Unknown, whose bucket is `t` itself); empty when it lies outside the date range.
std::optional<DateTime> bucketStart(const DateTime& t, TimeUnit unit, int32_t n);

}  // namespace bw
