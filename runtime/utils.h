// Building blocks of the indicator library, each a small state record with an update over a
// history series. Every use of a block in a formula owns its own record: two averages in one
// indicator are two records, never one shared.
//
// Lengths below 1 yield a missing value (NaN, or absent) and leave the record untouched; this
// covers lengths derived inside a formula (half of 1 is 0). Window loops never run past the
// history they read, so a huge length costs no more than the history held.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "runtime/runtime_ctx.h"
#include "runtime/series.h"

namespace bw::rt {

// x, or 0 when x is missing.
inline double z(double x) { return std::isnan(x) ? 0.0 : x; }
inline bool missing(double x) { return std::isnan(x); }

// Window sum of the last n values of x, kept incrementally. `valid` counts the steps on which x
// was present and never decreases, so once n values have been seen a missing value inside the
// window counts as 0 rather than making the sum missing.
struct WindowSum {
  double sum = 0.0;
  int64_t valid = 0;

  // One evaluation; x[0] is the value entering the window, x[n] the one leaving it.
  double update(const NumSeries& x, int64_t n) {
    if (n < 1) return kNaN;
    const double in = x[0];
    if (!missing(in)) ++valid;
    if (!missing(sum)) {
      sum = sum + z(in);
      if (!missing(sum)) sum = sum - z(x[n]);
    }
    return valid < n ? kNaN : sum;
  }
};

// sma(x, n) = sum(x, n) / n.
inline double sma(WindowSum& s, const NumSeries& x, int64_t n) {
  if (n < 1) return kNaN;
  return s.update(x, n) / static_cast<double>(n);
}

// Exponential average seeded with the simple average of its first n inputs (ema and rma).
// While warming up, or after a missing value, it falls back to its own seed window sum, which
// is only updated on those steps.
struct SeededAverage {
  int64_t bars = 0;
  WindowSum seed;
  double prev = kNaN;

  double update(const NumSeries& x, int64_t n, double alpha) {
    if (n < 1) return kNaN;
    ++bars;
    double value;
    if (bars < n || missing(prev))
      value = seed.update(x, n) / static_cast<double>(n);
    else
      value = prev * (1 - alpha) + x[0] * alpha;
    prev = value;
    return value;
  }
};

inline double ema(SeededAverage& s, const NumSeries& x, int64_t n) {
  return s.update(x, n, 2 / (static_cast<double>(n) + 1));
}
inline double rma(SeededAverage& s, const NumSeries& x, int64_t n) {
  return s.update(x, n, 1 / static_cast<double>(n));
}

// Linearly weighted average: weight n*(n-j) on x[j]. Missing while any of the last n values is.
inline double wma(const NumSeries& x, int64_t n) {
  if (n < 1 || x.length() < n) return kNaN;
  const double nd = static_cast<double>(n);
  const double* win = x.window(static_cast<size_t>(n));  // win[n - 1 - j] is x[j]
  double w = nd * nd, num = 0.0, den = 0.0;
  bool gap = false;
  for (int64_t j = 0; j < n; ++j, w -= nd) {
    const double v = win[n - 1 - j];
    gap |= missing(v);
    num += w * v;
    den += w;
  }
  return gap ? kNaN : num / den;
}

// Scan of the last n values for the highest (or lowest) one. Ties go to the oldest bar; missing
// values are skipped, but the scan starts from the current value even when it is missing.
struct ExtremeScan {
  int64_t bars = 0;

  // Offset (bars back) of the extreme, or absent during warm-up.
  template <bool Highest>
  std::optional<int64_t> offset(const NumSeries& x, int64_t n) {
    if (n < 1) return std::nullopt;
    ++bars;
    if (bars < n) return std::nullopt;
    double candidate = x[0];
    int64_t at = 0;
    const int64_t end = n < x.length() ? n : x.length();
    if (end < 2) return at;
    const double* win = x.window(static_cast<size_t>(end));  // win[end - 1 - j] is x[j]
    // A missing value compares false either way, so it is skipped without a test of its own.
    for (int64_t j = 1; j < end; ++j) {
      const double v = win[end - 1 - j];
      const bool take = Highest ? v >= candidate : v <= candidate;
      candidate = take ? v : candidate;
      at = take ? j : at;
    }
    return at;
  }
};

inline double highest(ExtremeScan& s, const NumSeries& x, int64_t n) {
  auto at = s.offset<true>(x, n);
  return at ? x[*at] : kNaN;
}
inline double lowest(ExtremeScan& s, const NumSeries& x, int64_t n) {
  auto at = s.offset<false>(x, n);
  return at ? x[*at] : kNaN;
}
inline std::optional<int64_t> highestbars(ExtremeScan& s, const NumSeries& x, int64_t n) {
  auto at = s.offset<true>(x, n);
  if (!at) return std::nullopt;
  return -*at;
}
inline std::optional<int64_t> lowestbars(ExtremeScan& s, const NumSeries& x, int64_t n) {
  auto at = s.offset<false>(x, n);
  if (!at) return std::nullopt;
  return -*at;
}

// max and min of two values, missing when either is (unlike std::max, which would keep one).
inline double maxOf(double a, double b) { return missing(a) || missing(b) ? kNaN : (a < b ? b : a); }
inline double minOf(double a, double b) { return missing(a) || missing(b) ? kNaN : (b < a ? b : a); }

// Symmetric four-value average x[3]/6 + 2x[2]/6 + 2x[1]/6 + x[0]/6; missing on the first three
// steps and whenever one of the four values is.
inline double swma(const NumSeries& x) { return (1 * x[3]) / 6 + (2 * x[2]) / 6 + (2 * x[1]) / 6 + (1 * x[0]) / 6; }

// max(high - low, |high - close[1]|, |low - close[1]|); on the first step, or after a bar with a
// missing field, high - low (or missing when handleNa is false).
inline double trueRange(const RuntimeCtx& rt, bool handleNa) {
  const double h = rt.high[0], l = rt.low[0];
  if (rt.close.length() >= 2 && !missing(rt.high[1]) && !missing(rt.low[1]) && !missing(rt.close[1])) {
    const double c1 = rt.close[1];
    return maxOf(maxOf(h - l, std::fabs(h - c1)), std::fabs(l - c1));
  }
  return handleNa ? h - l : kNaN;
}

// atr(n) = rma(tr, n) over its own series of true ranges; the first true range counts, so the
// first value comes on step n.
struct AtrBlock {
  NumSeries tr;
  SeededAverage avg;
  double update(const RuntimeCtx& rt, int64_t n) {
    tr.push(trueRange(rt, true));
    return rma(avg, tr, n);
  }
};

// Standard deviation of the last n values of x around the mean m (sma(x, n), computed by the
// caller): sqrt(S / n) when biased, sqrt(S / (n - 1)) otherwise, S the sum of the squared
// deviations. A deviation within 1e-10 of the mean is float noise and counts as 0. Missing while
// the mean is (warm-up) and when any value in the window is, as for the mean deviation.
inline double stdevAround(const NumSeries& x, int64_t n, double m, bool biased) {
  if (n < 1 || missing(m) || x.length() < n) return kNaN;  // a value beyond the history is missing
  const double nd = static_cast<double>(n);
  const double* win = x.window(static_cast<size_t>(n));  // win[n - 1 - j] is x[j]
  // Every term is computed and summed in order; a missing one makes the value missing at the end,
  // so the loop itself has no branch.
  double s = 0.0;
  bool gap = false;
  for (int64_t j = 0; j < n; ++j) {
    const double d = win[n - 1 - j] - m;
    gap |= missing(d);
    const double term = std::fabs(d) <= 1e-10 ? 0.0 : d;
    s += term * term;
  }
  return gap ? kNaN : std::sqrt(s / (biased ? nd : nd - 1));
}

// stdev(x, n) with a mean of its own.
struct StandardDeviation {
  WindowSum mean;

  double update(const NumSeries& x, int64_t n, bool biased) {
    if (n < 1) return kNaN;
    return stdevAround(x, n, sma(mean, x, n), biased);
  }
};

// Mean absolute deviation of the last n values of x from the mean m (sma(x, n), computed by the
// caller); missing while the mean or any value in the window is.
inline double meanDeviationAround(const NumSeries& x, int64_t n, double m) {
  if (n < 1 || missing(m) || x.length() < n) return kNaN;  // a value beyond the history is missing
  const double* win = x.window(static_cast<size_t>(n));  // win[n - 1 - j] is x[j]
  double s = 0.0;
  bool gap = false;
  for (int64_t j = 0; j < n; ++j) {
    const double v = win[n - 1 - j];
    gap |= missing(v);
    s += std::fabs(v - m);
  }
  return gap ? kNaN : s / static_cast<double>(n);
}

// dev(x, n) with a mean of its own.
struct MeanDeviation {
  WindowSum mean;

  double update(const NumSeries& x, int64_t n) {
    if (n < 1) return kNaN;
    return meanDeviationAround(x, n, sma(mean, x, n));
  }
};

}  // namespace bw::rt
