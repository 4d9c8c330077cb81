// Moving averages and basic series functions.
#include <algorithm>
#include <cmath>
#include <vector>

#include "runtime/indicator.h"

namespace bw::rt {
namespace {

// sum(src, n) / n: missing until n present inputs have been seen; after that a missing input
// inside the window counts as 0.
struct Sma {
  WindowSum sum;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return sma(sum, src, n); }
};

// Exponential average with alpha 2/(n+1), seeded with the simple average of the first n inputs.
struct Ema {
  SeededAverage avg;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return ema(avg, src, n); }
};

// Wilder's average: alpha 1/n, seeded like ema.
struct Rma {
  SeededAverage avg;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return rma(avg, src, n); }
};

// Weights n*(n-j) on src[j]; first value once the history holds n values.
struct Wma {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return wma(src, n); }
};

// src[3]/6 + 2*src[2]/6 + 2*src[1]/6 + src[0]/6; missing on the first three steps.
struct Swma {
  double step(const RuntimeCtx&, const NumSeries& src) { return swma(src); }
};

// wma(2*wma(src, n/2) - wma(src, n), sqrt(n)); with n = 14 the first value comes on step 16.
struct Hma {
  NumSeries raw;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    const auto half = static_cast<int64_t>(0.5 * static_cast<double>(n));
    const auto root = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    raw.push(2 * wma(src, half) - wma(src, n));
    return wma(raw, root);
  }
  size_t historyBytes() const { return raw.capacityBytes(); }
};

// sma(src * volume, n) / sma(volume, n).
struct Vwma {
  static constexpr uint16_t reads = kVolume;
  NumSeries weighted;
  WindowSum num, den;
  double step(const RuntimeCtx& rt, const NumSeries& src, int64_t n) {
    weighted.push(src[0] * rt.volume[0]);
    const double a = sma(num, weighted, n);
    return a / sma(den, rt.volume, n);
  }
  size_t historyBytes() const { return weighted.capacityBytes(); }
};

// Fibonacci weights F(n-j) on src[j], missing values counting as 0 while their weights still
// count: no warm-up. The weights depend on n only and are kept between steps.
struct Fwma {
  std::vector<double> weights;  // F(n - j), j = 0 .. n-1
  double total = 0;
  int64_t weightsFor = 0;

  static double fib(int64_t k) {
    constexpr double phi = 1.618033988749895;
    const double kd = static_cast<double>(k);
    return (std::pow(phi, kd) - std::pow(-1.0, kd) / std::pow(phi, kd)) / 2.23606797749979;
  }

  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    if (n != weightsFor) {
      weightsFor = n;
      weights.clear();
      total = 0;
      // Beyond about 1474 the largest weight overflows: every result would be NaN.
      if (std::isinf(fib(n))) {
        total = kNaN;
      } else {
        weights.reserve(static_cast<size_t>(n));
        for (int64_t j = 0; j < n; ++j) {
          weights.push_back(fib(n - j));
          total += weights.back();
        }
      }
    }
    if (std::isnan(total)) return kNaN;
    double num = 0;
    for (int64_t j = 0; j < n; ++j) num += weights[static_cast<size_t>(j)] * z(src[j]);
    return num / total;
  }
};

// 2*e1 - e2 with e1 = ema(src, n), e2 = ema(e1, n).
struct Dema {
  NumSeries e1s;
  SeededAverage a1, a2;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    const double e1 = ema(a1, src, n);
    e1s.push(e1);
    const double e2 = ema(a2, e1s, n);
    return 2 * e1 - e2;
  }
  size_t historyBytes() const { return e1s.capacityBytes(); }
};

// (3*e1 - 3*e2) + e3 over three chained emas.
struct Tema {
  NumSeries e1s, e2s;
  SeededAverage a1, a2, a3;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    const double e1 = ema(a1, src, n);
    e1s.push(e1);
    const double e2 = ema(a2, e1s, n);
    e2s.push(e2);
    const double e3 = ema(a3, e2s, n);
    return (3 * e1 - 3 * e2) + e3;
  }
  size_t historyBytes() const { return e1s.capacityBytes() + e2s.capacityBytes(); }
};

// Mean absolute deviation from sma(src, n); missing while the mean or any window value is.
struct Dev {
  MeanDeviation dev;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) { return dev.update(src, n); }
};

// Standard deviation around sma(src, n), population (biased) or sample; a deviation within 1e-10
// counts as 0. Missing during warm-up and while any value in the window is; first value on step n.
struct Stdev {
  StandardDeviation sd;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n, bool biased) { return sd.update(src, n, biased); }
};

// Running total; a missing input gives a missing value and the total restarts from 0 after it.
struct Cum {
  double prev = kNaN;
  double step(const RuntimeCtx&, const NumSeries& src) {
    const double x = src[0];
    prev = missing(x) ? kNaN : z(prev) + x;
    return prev;
  }
};

// src - src[1]; missing on the first step.
struct Change {
  double step(const RuntimeCtx&, const NumSeries& src) { return src[0] - src[1]; }
};

// Arnaud Legoux average: Gaussian weights exp(-(i - m)^2 / (2 s^2)) on src[length - 1 - i], with
// m = offset * (length - 1) (floored when `floor`) and s = length / sigma. First value on step
// length; a missing value in the window makes it missing.
struct Alma {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n, double offset, double sigma, bool floor) {
    if (src.length() < n) return kNaN;
    const double nd = static_cast<double>(n);
    const double m = floor ? std::floor(offset * (nd - 1)) : offset * (nd - 1);
    const double s = nd / sigma;
    double norm = 0, sum = 0;
    for (int64_t i = 0; i < n; ++i) {
      const double d = static_cast<double>(i) - m;
      const double w = std::exp(-(d * d) / (2 * s * s));
      norm += w;
      sum += src[n - 1 - i] * w;
    }
    return sum / norm;
  }
};

// The least-squares line through the last length values (x = 0 for the oldest, length - 1 for
// the current one), read at x = length - 1 - offset: intercept + slope * (length - 1 - offset).
// One value has a flat line through it. First value on step length.
struct Linreg {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n, int64_t offset) {
    if (src.length() < n) return kNaN;
    const double nd = static_cast<double>(n);
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int64_t j = 0; j < n; ++j) {
      const double x = static_cast<double>(n - 1 - j);
      const double y = src[j];
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
    }
    const double slope = n == 1 ? 0.0 : (nd * sxy - sx * sy) / (nd * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / nd;
    return intercept + slope * (nd - 1 - static_cast<double>(offset));
  }
};

// The last n values in `out`, or false when the history holds fewer or one of them is missing.
bool window(const NumSeries& src, int64_t n, std::vector<double>& out) {
  if (src.length() < n) return false;
  out.clear();
  for (int64_t j = 0; j < n; ++j) {
    const double v = src[j];
    if (missing(v)) return false;
    out.push_back(v);
  }
  return true;
}

// The middle of the last length values, the mean of the two middle ones for an even length.
// First value on step length; a missing value in the window makes it missing.
struct Median {
  std::vector<double> w;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n) {
    if (!window(src, n, w)) return kNaN;
    const auto mid = w.begin() + n / 2;
    std::nth_element(w.begin(), mid, w.end());
    if (n % 2 == 1) return *mid;
    return (*std::max_element(w.begin(), mid) + *mid) / 2;
  }
};

// Nearest-rank percentile: the value of rank ceil(percentage / 100 * length) (1 for the smallest,
// the rank kept within 1 .. length) among the last length values. First value on step length.
struct PercentileNearestRank {
  std::vector<double> w;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t n, double percentage) {
    if (missing(percentage) || !window(src, n, w)) return kNaN;
    const double rank = std::ceil(percentage / 100 * static_cast<double>(n));
    const int64_t k = rank < 1 ? 1 : rank > static_cast<double>(n) ? n : static_cast<int64_t>(rank);
    const auto at = w.begin() + (k - 1);
    std::nth_element(w.begin(), at, w.end());
    return *at;
  }
};

}  // namespace

BW_INDICATOR(Sma, "sma", "059403", Group::Averages, "Simple moving average of src over length bars.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(Ema, "ema", "7bc747", Group::Averages,
             "Exponential moving average, alpha = 2 / (length + 1), seeded with the simple average.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(Rma, "rma", "3454eb", Group::Averages,
             "Wilder's moving average, alpha = 1 / length, seeded with the simple average.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(Wma, "wma", "5c3876", Group::Averages, "Linearly weighted moving average.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(Wma, "lwma", "60bd2d", Group::Averages,
             "Linearly weighted moving average (the same computation as wma).", first("length"), series("src"),
             length("length", 14));
BW_INDICATOR(Swma, "swma", "30829d", Group::Averages,
             "Symmetric weighted average of the last four values (weights 1, 2, 2, 1).", first("4"), series("src"));
BW_INDICATOR(Hma, "hma", "3a3f74", Group::Averages,
             "Hull moving average: wma over sqrt(length) of 2 * wma(length / 2) - wma(length).",
             first("length + trunc(sqrt(length)) - 1"), series("src"), length("length", 14));
BW_INDICATOR(Vwma, "vwma", "10c6d1", Group::Averages, "Volume-weighted moving average.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(Fwma, "fwma", "69cd8f", Group::Averages,
             "Fibonacci-weighted moving average (no warm-up: missing values count as 0).", first("1"), series("src"),
             length("length", 14));
BW_INDICATOR(Dema, "dema", "d2c3b8", Group::Averages, "Double exponential moving average, 2 * e1 - e2.",
             first("2 * length - 1"), series("src"), length("length", 9));
BW_INDICATOR(Tema, "tema", "ef3cbc", Group::Averages, "Triple exponential moving average, 3 * e1 - 3 * e2 + e3.",
             first("3 * length - 2"), series("src"), length("length", 9));
BW_INDICATOR(Dev, "dev", "402351", Group::Averages, "Mean absolute deviation from the simple average.",
             first("length"), series("src"), length("length", 14));
BW_INDICATOR(Stdev, "stdev", "d87475", Group::Averages,
             "Standard deviation around the simple average, population (biased) or sample.", first("length"),
             series("src"), length("length"), flag("biased", true));
BW_INDICATOR(Cum, "cum", "c1d3ea", Group::Averages, "Running total of src, restarting after a missing value.",
             first("1"), series("src"));
BW_INDICATOR(Change, "change", "1e4fad", Group::Averages, "One-bar change, src - src[1].", first("2"), series("src"));

BW_INDICATOR(Alma, "alma", Group::Averages,
             "Arnaud Legoux moving average: Gaussian weights centred at offset * (length - 1), width length / sigma.",
             first("length"), series("src"), length("length", 9), real("offset", 0.85), real("sigma", 6.0),
             flag("floor", false));
BW_INDICATOR(Linreg, "linreg", Group::Averages,
             "Least-squares line through the last length values, read offset bars back from the current one.",
             first("length"), series("src"), length("length", 100), integer("offset", 0));
BW_INDICATOR(Median, "median", Group::Averages, "Median of the last length values.", first("length"),
             series("src"), length("length", 14));
BW_INDICATOR(PercentileNearestRank, "percentile_nearest_rank", Group::Averages,
             "Nearest-rank percentile of the last length values (rank ceil(percentage / 100 * length)).",
             first("length"), series("src"), length("length", 14), real("percentage", 50.0));

}  // namespace bw::rt
