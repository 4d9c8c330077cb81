// Moving averages and basic series functions.
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

}  // namespace bw::rt
