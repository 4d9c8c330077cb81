// Bounded and ratio oscillators: the relative strength index and the indicators built on it,
// CCI, Williams %R, the ultimate oscillator, the relative vigor index and the balance of power.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "runtime/indicator.h"

namespace bw::rt {
namespace {

// rsi(x, n) = 100 - 100 / (1 + rma(up, n) / rma(down, n)), with up and down the rise and fall of
// x since the previous step; first value on step n + 1. Only rises: 100, only falls: 0, neither:
// missing (0 / 0).
struct RsiBlock {
  NumSeries up, down;
  SeededAverage upAvg, downAvg;

  double update(const NumSeries& x, int64_t n) {
    const double rise = x[0] - x[1];
    const double fall = x[1] - x[0];
    up.push(missing(rise) ? kNaN : rise >= 0 ? rise : 0.0);
    down.push(missing(fall) ? kNaN : fall >= 0 ? fall : 0.0);
    const double u = rma(upAvg, up, n);
    const double d = rma(downAvg, down, n);
    return 100 - 100 / (1 + u / d);
  }
};

// rsi(src, length) = 100 - 100 / (1 + rma(up, length) / rma(down, length)); first value on step
// length + 1.
struct Rsi {
  RsiBlock rsi;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) { return rsi.update(src, length); }
};
BW_INDICATOR(Rsi, "rsi", "4196b9", Group::Oscillators, "Relative strength index.", first("length + 1"), series("src"),
             length("length", 14));

// k = sma(stoch, smoothK) and d = sma(k, smoothD), with stoch the position of r = rsi(src) in its
// stochLength-step range. The scans count steps from the first one, not from the first defined
// r, so stoch comes once two different defined values of r lie in the window.
struct StochasticRsi {
  RsiBlock rsi;
  NumSeries r, stoch, k;
  ExtremeScan lo, hi;
  WindowSum kSum, dSum;

  std::array<double, 2> step(const RuntimeCtx&, const NumSeries& src, int64_t stochLength, int64_t rsiLength,
                             int64_t smoothK, int64_t smoothD) {
    r.push(rsi.update(src, rsiLength));
    const double low = lowest(lo, r, stochLength);
    const double high = highest(hi, r, stochLength);
    stoch.push(100 * (r[0] - low) / (high - low));
    k.push(sma(kSum, stoch, smoothK));
    return {k[0], sma(dSum, k, smoothD)};
  }
};
BW_INDICATOR(StochasticRsi, "stochastic_rsi", "84a7e0", Group::Oscillators,
             "Stochastic RSI: the position of rsi(src) in its range, smoothed, [k, d].",
             outputs({"k", "max(rsiLength + 2, stochLength) + smoothK - 1"},
                     {"d", "max(rsiLength + 2, stochLength) + smoothK + smoothD - 2"}),
             series("src"), length("stochLength", 14), length("rsiLength", 14), length("smoothK", 3),
             length("smoothD", 3));

// ((rsi(src) + rsi(streak)) + rank) / 3, streak counting consecutive rising (> 0) or falling
// (< 0) steps, 0 on an unchanged one. First value once the rank has one (bar index 100 by default).
struct ConnorsRsi {
  static constexpr uint16_t reads = kBarIndex;
  RsiBlock priceRsi, streakRsi;
  NumSeries streak, roc1;

  double step(const RuntimeCtx& rt, const NumSeries& src, int64_t rsiLength, int64_t streakLength,
              int64_t rankLength) {
    const double r1 = priceRsi.update(src, rsiLength);
    const double prev = streak[0];  // missing on the first step: neither test below holds
    if (src[0] == src[1])
      streak.push(0.0);
    else if (src[1] < src[0])
      streak.push(prev > 0 ? prev + 1 : 1.0);
    else
      streak.push(prev < 0 ? prev - 1 : -1.0);
    const double r2 = streakRsi.update(streak, streakLength);
    roc1.push((100 * (src[0] - src[1])) / src[1]);
    return ((r1 + r2) + percentRank(rt, rankLength)) / 3;
  }

  // The percent rank of the current roc1: how many of the previous rankLength values roc1[1] ...
  // roc1[rankLength] are less than or equal to it, as a percentage of rankLength (values missing
  // or before the first step never count). It is missing before the bar index reaches
  // rankLength, and when the current roc1 itself is missing.
  double percentRank(const RuntimeCtx& rt, int64_t rankLength) const {
    const auto barIndex = rt.bar_index[0];
    const double current = roc1[0];
    if (!barIndex || *barIndex < rankLength || missing(current)) return kNaN;
    const int64_t end = std::min(rankLength, roc1.length() - 1);
    int64_t count = 0;
    for (int64_t j = 1; j <= end; ++j)
      if (roc1[j] <= current) ++count;
    return 100 * static_cast<double>(count) / static_cast<double>(rankLength);
  }
};
BW_INDICATOR(ConnorsRsi, "connors_rsi", "ecfb42", Group::Oscillators,
             "Connors RSI: mean of the RSI, the streak RSI and the percent rank of the one-bar change.",
             first("max(rsiLength, streakLength, rankLength) + 1"), series("src"), length("rsiLength", 3),
             length("streakLength", 2), length("rankLength", 100));

// 100 * up / (dn + up): ema of stdev(src, n) on rising and on falling steps (a missing change
// counts as a rise). While stdev has no value there is no volatility to split, so both inputs
// are missing and the averages seed from the steps that have one: first value on step 2n - 1.
struct RelativeVolatilityIndex {
  StandardDeviation sd;
  NumSeries upIn, dnIn;
  SeededAverage upAvg, dnAvg;

  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) {
    const double s = sd.update(src, length, true);
    upIn.push(missing(s) ? kNaN : src[0] - src[1] <= 0 ? 0.0 : s);
    dnIn.push(missing(s) ? kNaN : src[1] < src[0] ? 0.0 : s);
    const double up = ema(upAvg, upIn, length);
    const double dn = ema(dnAvg, dnIn, length);
    return (up / (dn + up)) * 100;
  }
};
BW_INDICATOR(RelativeVolatilityIndex, "relative_volatility_index", "3b8406", Group::Oscillators,
             "Relative volatility index.", first("2 * length - 1"), series("src"), length("length", 14));

// (src - m) / (0.015 * dev(src, n)) with m = sma(src, n), the deviation taken around m. First
// value on step n; a constant series gives 0 / 0.
struct Cci {
  WindowSum mean;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) {
    const double m = sma(mean, src, length);
    return (src[0] - m) / (0.015 * meanDeviationAround(src, length, m));
  }
};
BW_INDICATOR(Cci, "cci", "d95ce4", Group::Oscillators, "Commodity channel index.", first("length"), series("src"),
             length("length", 14));

// (100 * (src - hh)) / (hh - ll) over the n-bar high and low: 0 at the high, -100 at the low.
struct WilliamsPctR {
  static constexpr uint16_t reads = kHigh | kLow;
  ExtremeScan hh, ll;
  double step(const RuntimeCtx& rt, const NumSeries& src, int64_t length) {
    const double h = highest(hh, rt.high, length);
    const double l = lowest(ll, rt.low, length);
    return (100 * (src[0] - h)) / (h - l);
  }
};
BW_INDICATOR(WilliamsPctR, "williams_pct_r", "01cd99", Group::Oscillators,
             "Williams %R, between -100 and 0 inside the range.", first("length"), series("src"),
             length("length", 14));

// 100 * (4 avg(l1) + 2 avg(l2) + avg(l3)) / 7 with avg(n) = sum(bp, n) / sum(tr, n),
// bp = close - min(low, close[1]) and tr = max(high, close[1]) - min(low, close[1]); the three
// lengths share the two series. The first bar has neither, so the first value comes on step
// max(l1, l2, l3) + 1.
struct UltimateOscillator {
  static constexpr uint16_t reads = kHigh | kLow | kClose;
  NumSeries bp, tr;
  std::array<WindowSum, 3> bpSum, trSum;
  double step(const RuntimeCtx& rt, int64_t length1, int64_t length2, int64_t length3) {
    const double hi = maxOf(rt.high[0], rt.close[1]);
    const double lo = minOf(rt.low[0], rt.close[1]);
    bp.push(rt.close[0] - lo);
    tr.push(hi - lo);
    const auto avg = [&](size_t i, int64_t n) {
      const double b = bpSum[i].update(bp, n);
      return b / trSum[i].update(tr, n);
    };
    const double a1 = avg(0, length1);
    const double a2 = avg(1, length2);
    const double a3 = avg(2, length3);
    return 100 * ((4 * a1 + 2 * a2) + a3) / 7;
  }
};
BW_INDICATOR(UltimateOscillator, "ultimate_oscillator", "e466b9", Group::Oscillators,
             "Ultimate oscillator over three lengths, from the bars.", first("max(length1, length2, length3) + 1"),
             length("length1", 7), length("length2", 14), length("length3", 28));

// sum(swma(close - open), n) / sum(swma(high - low), n); first value on step n + 3.
struct RelativeVigorIndex {
  static constexpr uint16_t reads = kOpen | kHigh | kLow | kClose;
  NumSeries co, s1, hl, s2;
  WindowSum sum1, sum2;
  double step(const RuntimeCtx& rt, int64_t length) {
    co.push(rt.close[0] - rt.open[0]);
    s1.push(swma(co));
    hl.push(rt.high[0] - rt.low[0]);
    s2.push(swma(hl));
    const double num = sum1.update(s1, length);
    return num / sum2.update(s2, length);
  }
};
BW_INDICATOR(RelativeVigorIndex, "relative_vigor_index", "419773", Group::Oscillators,
             "Relative vigor index, from the bars.", first("length + 3"), length("length", 14));

// (close - open) / (high - low) of the current bar; a bar without range divides by 0.
struct BalanceOfPower {
  static constexpr uint16_t reads = kOpen | kHigh | kLow | kClose;
  double step(const RuntimeCtx& rt) { return (rt.close[0] - rt.open[0]) / (rt.high[0] - rt.low[0]); }
};
BW_INDICATOR(BalanceOfPower, "balance_of_power", "b52747", Group::Oscillators,
             "Balance of power, (close - open) / (high - low) of the current bar.", first("1"));

// The stochastic of a close within a high-low range: 100 * (close - lowest(low, periodK)) /
// (highest(high, periodK) - lowest(low, periodK)), %K its sma over smoothK and %D the sma of %K
// over periodD. A window without range gives 0 / 0.
struct StochBlock {
  ExtremeScan hh, ll;
  NumSeries raw, k;
  WindowSum kSum, dSum;
  std::array<double, 2> update(const NumSeries& close, const NumSeries& high, const NumSeries& low, int64_t periodK,
                               int64_t smoothK, int64_t periodD) {
    const double h = highest(hh, high, periodK);
    const double l = lowest(ll, low, periodK);
    raw.push(100 * (close[0] - l) / (h - l));
    k.push(sma(kSum, raw, smoothK));
    return {k[0], sma(dSum, k, periodD)};
  }
};

// The stochastic oscillator of the bars: the close within the high-low range.
struct Stoch {
  static constexpr uint16_t reads = kHigh | kLow | kClose;
  StochBlock stoch;
  std::array<double, 2> step(const RuntimeCtx& rt, int64_t periodK, int64_t smoothK, int64_t periodD) {
    return stoch.update(rt.close, rt.high, rt.low, periodK, smoothK, periodD);
  }
};
BW_INDICATOR(Stoch, "stoch", Group::Oscillators,
             "Stochastic oscillator of the bars, [k, d]: the close within the periodK-bar high-low range, "
             "averaged over smoothK bars, and k averaged over periodD bars.",
             outputs({"k", "periodK + smoothK - 1"}, {"d", "periodK + smoothK + periodD - 2"}), length("periodK", 14),
             length("smoothK", 1), length("periodD", 3));

// The same oscillator for any series: src within its own periodK-step range.
struct StochSource {
  StochBlock stoch;
  std::array<double, 2> step(const RuntimeCtx&, const NumSeries& src, int64_t periodK, int64_t smoothK,
                             int64_t periodD) {
    return stoch.update(src, src, src, periodK, smoothK, periodD);
  }
};
BW_INDICATOR(StochSource, "stoch_source", Group::Oscillators,
             "Stochastic oscillator of src within its own periodK-step range, [k, d], smoothed like stoch.",
             outputs({"k", "periodK + smoothK - 1"}, {"d", "periodK + smoothK + periodD - 2"}), series("src"),
             length("periodK", 14), length("smoothK", 1), length("periodD", 3));

// Chande momentum oscillator: 100 * (U - D) / (U + D) with U and D the length-step sums of the
// rises and falls of src. A missing change is not a rise, so U counts it as 0 while D counts it
// missing: the first value comes on step length + 1.
struct Cmo {
  NumSeries up, down;
  WindowSum upSum, downSum;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) {
    const double mom = src[0] - src[1];
    up.push(mom >= 0 ? mom : 0.0);
    down.push(mom >= 0 ? 0.0 : -mom);
    const double u = upSum.update(up, length);
    const double d = downSum.update(down, length);
    return 100 * (u - d) / (u + d);
  }
};
BW_INDICATOR(Cmo, "cmo", Group::Oscillators, "Chande momentum oscillator, 100 * (U - D) / (U + D) over length steps.",
             first("length + 1"), series("src"), length("length", 9));

// The share, in percent, of the previous length values that are at most the current one
// (missing ones never count). Missing until the history holds length + 1 values.
struct Percentrank {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) {
    const double current = src[0];
    if (missing(current) || src.length() <= length) return kNaN;
    int64_t count = 0;
    for (int64_t j = 1; j <= length; ++j)
      if (src[j] <= current) ++count;
    return 100 * static_cast<double>(count) / static_cast<double>(length);
  }
};
BW_INDICATOR(Percentrank, "percentrank", Group::Oscillators,
             "Percent of the previous length values that are less than or equal to the current one.",
             first("length + 1"), series("src"), length("length", 14));

// Directional movement, [plus, minus, adx]: +DM = the rise of the high when it beats the fall of
// the low (else 0), -DM the other way round; plus and minus are 100 * rma(DM, diLength) /
// rma(tr, diLength), with tr the true range that is missing on the first bar, each keeping its
// last value while it has none; adx = 100 * rma(|plus - minus| / (plus + minus), adxSmoothing).
struct Dmi {
  static constexpr uint16_t reads = kHigh | kLow | kClose;
  NumSeries plusDm, minusDm, tr, dx;
  SeededAverage plusAvg, minusAvg, trAvg, adxAvg;
  double lastPlus = kNaN, lastMinus = kNaN;

  std::array<double, 3> step(const RuntimeCtx& rt, int64_t diLength, int64_t adxSmoothing) {
    const double up = rt.high[0] - rt.high[1];
    const double down = -(rt.low[0] - rt.low[1]);
    plusDm.push(missing(up) ? kNaN : up > down && up > 0 ? up : 0.0);
    minusDm.push(missing(down) ? kNaN : down > up && down > 0 ? down : 0.0);
    tr.push(trueRange(rt, false));
    const double range = rma(trAvg, tr, diLength);
    const double plus = 100 * rma(plusAvg, plusDm, diLength) / range;
    const double minus = 100 * rma(minusAvg, minusDm, diLength) / range;
    if (!missing(plus)) lastPlus = plus;
    if (!missing(minus)) lastMinus = minus;
    const double sum = lastPlus + lastMinus;
    dx.push(std::fabs(lastPlus - lastMinus) / (sum == 0 ? 1 : sum));
    return {lastPlus, lastMinus, 100 * rma(adxAvg, dx, adxSmoothing)};
  }
};
BW_INDICATOR(Dmi, "dmi", Group::Oscillators,
             "Directional movement index, [plus, minus, adx]: +DI, -DI and the average directional index.",
             outputs({"plus", "diLength + 1"}, {"minus", "diLength + 1"}, {"adx", "diLength + adxSmoothing"}),
             length("diLength", 14), length("adxSmoothing", 14));

}  // namespace
}  // namespace bw::rt
