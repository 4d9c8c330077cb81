// Basic statistics over series of numbers, and the annualization factor that turns per-bar
// figures into yearly ones. Shared by the metric free functions, the backtest's risk figures and
// the JavaScript bindings.
//
// Sums run in array order from negative zero with no compensation, so an empty sum is -0 and
// NaN values propagate. Variance is the population form (divides by n, not n - 1).
#pragma once

#include <span>
#include <vector>

#include "core/error.h"
#include "core/timeframe.h"

namespace bw {

// Sum of all values; -0 for an empty series.
double sum(std::span<const double> values);
// sum / n; NaN when empty.
double mean(std::span<const double> values);
// (sum of (x - mean)²) / n; NaN when empty.
double variance(std::span<const double> values);
// sqrt(variance); NaN when empty.
double stdev(std::span<const double> values);

// Simple returns (x[i+1] - x[i]) / x[i], oldest first: n - 1 values, none when n < 2. With
// `leadingNaN` a NaN is put in front, so the result has n values (one NaN for an empty input).
// A zero x[i] gives whatever the division gives (infinity or NaN).
std::vector<double> returns(std::span<const double> values, bool leadingNaN = false);

// Periods of the timeframe in a year: daysPerYear × 86400 / (length of one period in seconds).
// A count of 0 gives an infinite factor. Ticks, ranges and unknown timeframes are refused with
// "Unknown timeframe"; a period too long for the span of a duration is refused as well.
Result<double> annualizationFactor(const Timeframe& timeframe, double daysPerYear);

}  // namespace bw
