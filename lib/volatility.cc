// Range and volatility measures and the bands and channels drawn from them: true range and its
// average, Bollinger bands, %B and width, the Donchian channel, supertrend, the Chande Kroll stop,
// the choppiness index, the vortex indicator and Aroon.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "runtime/indicator.h"

namespace bw::rt {
namespace {

constexpr uint16_t kBarRange = kHigh | kLow | kClose;

// max(high - low, |high - close[1]|, |low - close[1]|); on the first step, or after a bar with a
// missing field, high - low (or missing when handleNa is false).
struct Tr {
  static constexpr uint16_t reads = kBarRange;
  double step(const RuntimeCtx& rt, bool handleNa) { return trueRange(rt, handleNa); }
};
BW_INDICATOR(Tr, "tr", "296320", Group::Volatility, "True range of the current bar.",
             first("handleNa ? 1 : 2"), flag("handleNa", true));

// rma(tr, length), the true range counting high - low on the first step; first value on step
// length.
struct Atr {
  static constexpr uint16_t reads = kBarRange;
  AtrBlock atr;
  double step(const RuntimeCtx& rt, int64_t length) { return atr.update(rt, length); }
};
BW_INDICATOR(Atr, "atr", "d37266", Group::Volatility, "Average true range (rma of the true range).", first("length"),
             length("length", 14));

// basis = sma(src, n) and basis ± mult * stdev(src, n), the deviation taken around the basis
// (the same mean); both come on step n.
struct Bands {
  WindowSum basisSum;
  struct Value {
    double basis, upper, lower;
  };
  Value update(const NumSeries& src, int64_t n, double mult) {
    const double basis = sma(basisSum, src, n);
    const double dev = mult * stdevAround(src, n, basis, true);
    return {basis, basis + dev, basis - dev};
  }
};

// [basis + mult * stdev, basis - mult * stdev] with basis = sma(src, length) and the population
// stdev of src around it; first values on step length.
struct BollingerBands {
  Bands bands;
  std::array<double, 2> step(const RuntimeCtx&, const NumSeries& src, int64_t length, double mult) {
    const auto b = bands.update(src, length, mult);
    return {b.upper, b.lower};
  }
};
BW_INDICATOR(BollingerBands, "bollinger_bands", "7ac6ce", Group::Volatility, "Bollinger bands, [upper, lower].",
             outputs({"upper", "length"}, {"lower", "length"}), series("src"), length("length", 20),
             real("mult", 2.0));

// (src - lower) / (upper - lower); a constant series gives 0 / 0.
struct BollingerBandsPctB {
  Bands bands;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length, double mult) {
    const auto b = bands.update(src, length, mult);
    return (src[0] - b.lower) / (b.upper - b.lower);
  }
};
BW_INDICATOR(BollingerBandsPctB, "bollinger_bands_pct_b", "12beae", Group::Volatility,
             "Bollinger %B, the position of src between the bands.", first("length"), series("src"),
             length("length", 20), real("mult", 2.0));

// ((upper - lower) / basis) * 100.
struct BollingerBandsWidth {
  Bands bands;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length, double mult) {
    const auto b = bands.update(src, length, mult);
    return ((b.upper - b.lower) / b.basis) * 100;
  }
};
BW_INDICATOR(BollingerBandsWidth, "bollinger_bands_width", "bec1ab", Group::Volatility,
             "Bollinger band width as a percentage of the basis.", first("length"), series("src"),
             length("length", 20), real("mult", 2.0));

// [highest(high, n), lowest(low, n), their midpoint]; src is only recorded. First value on step n.
struct DonchianChannel {
  static constexpr uint16_t reads = kHigh | kLow;
  ExtremeScan hh, ll;
  std::array<double, 3> step(const RuntimeCtx& rt, const NumSeries&, int64_t length) {
    const double upper = highest(hh, rt.high, length);
    const double lower = lowest(ll, rt.low, length);
    return {upper, lower, 0.5 * (lower + upper)};
  }
};
BW_INDICATOR(DonchianChannel, "donchian_channel", "b78288", Group::Volatility,
             "Donchian channel from the bar highs and lows, [upper, lower, basis].",
             outputs({"upper", "length"}, {"lower", "length"}, {"basis", "length"}), series("src"),
             length("length", 20));

// Bands src ± factor * atr that only tighten while the close stays inside them, and the one the
// trend rides on: the lower band in an up trend (direction -1), the upper one in a down trend.
// The previous bands count as 0 on the first step, which therefore yields [0, 1]; without an
// atr period the average is missing on every step.
struct Supertrend {
  static constexpr uint16_t reads = kBarRange;
  AtrBlock atr;
  // The previous step's atr, final bands and value: all the history the step reads of them.
  double prevAtr = kNaN, prevUpper = kNaN, prevLower = kNaN, prevSt = kNaN;

  std::pair<double, std::optional<int64_t>> step(const RuntimeCtx& rt, const NumSeries& src, double factor,
                                                 std::optional<int64_t> atrPeriod) {
    const double a = atr.update(rt, atrPeriod.value_or(0));  // no period: the average stays missing
    const double up = src[0] + factor * a;
    const double lo = src[0] - factor * a;
    const double pu = z(prevUpper), pl = z(prevLower);
    const double c1 = rt.close[1];
    const double lower = pl < lo || c1 < pl ? lo : pl;
    const double upper = up < pu || pu < c1 ? up : pu;
    int64_t direction;
    if (missing(prevAtr))
      direction = 1;
    else if (prevSt == pu)
      direction = rt.close[0] > upper ? -1 : 1;
    else
      direction = rt.close[0] < lower ? 1 : -1;
    const double st = direction == -1 ? lower : upper;
    prevAtr = a;
    prevUpper = upper;
    prevLower = lower;
    prevSt = st;
    return {st, direction};
  }
};
BW_INDICATOR(Supertrend, "supertrend", "a392d5", Group::Volatility,
             "Supertrend, [value, direction] with direction 1 or -1.", outputs({"value", "1"}, {"direction", "1"}),
             series("src"), number("factor"), optLength("atrPeriod"));

// [highest(hh - mult * atr, stop), lowest(ll + mult * atr, stop)] with hh, ll the atrLength-bar
// high and low; both stops use the one atr(atrLength).
struct ChandeKrollStop {
  static constexpr uint16_t reads = kBarRange;
  ExtremeScan hh, ll, stopHigh, stopLow;
  AtrBlock atr;
  NumSeries first, second;

  std::array<double, 2> step(const RuntimeCtx& rt, int64_t atrLength, double mult, int64_t stopLength) {
    const double a = atr.update(rt, atrLength);
    const double f = highest(hh, rt.high, atrLength) - mult * a;
    const double s = lowest(ll, rt.low, atrLength) + mult * a;
    first.push(f);
    second.push(s);
    const double stopShort = highest(stopHigh, first, stopLength);
    return {stopShort, lowest(stopLow, second, stopLength)};
  }
};
BW_INDICATOR(ChandeKrollStop, "chande_kroll_stop", "1f3d9c", Group::Volatility,
             "Chande Kroll stop, [stopShort, stopLong].",
             outputs({"stopShort", "max(atrLength, stopLength)"}, {"stopLong", "max(atrLength, stopLength)"}),
             length("atrLength", 10), real("mult", 1.0), length("stopLength", 9));

// 100 * log10(sum(atr(1), n) / (hh - ll)) / log10(n) over the n-bar high and low; first value on
// step n. A window without range gives 0 / 0 or x / 0.
struct ChoppinessIndex {
  static constexpr uint16_t reads = kBarRange;
  AtrBlock atr1;
  NumSeries a1;
  WindowSum sum;
  ExtremeScan hh, ll;
  double step(const RuntimeCtx& rt, int64_t length) {
    a1.push(atr1.update(rt, 1));
    const double s = sum.update(a1, length);
    const double h = highest(hh, rt.high, length);
    const double l = lowest(ll, rt.low, length);
    return (100 * std::log10(s / (h - l))) / std::log10(static_cast<double>(length));
  }
};
BW_INDICATOR(ChoppinessIndex, "choppiness_index", "30ed5c", Group::Volatility, "Choppiness index.", first("length"),
             length("length", 14));

// [sum(|high - low[1]|, n), sum(|low - high[1]|, n)] / sum(atr(1), n); the first bar has no
// previous one, so the first value comes on step n + 1.
struct VortexIndicator {
  static constexpr uint16_t reads = kBarRange;
  NumSeries vmp, vmm, a1;
  AtrBlock atr1;
  WindowSum trSum, plusSum, minusSum;
  std::array<double, 2> step(const RuntimeCtx& rt, int64_t length) {
    vmp.push(std::fabs(rt.high[0] - rt.low[1]));
    vmm.push(std::fabs(rt.low[0] - rt.high[1]));
    a1.push(atr1.update(rt, 1));
    const double range = trSum.update(a1, length);
    const double plus = plusSum.update(vmp, length) / range;
    return {plus, minusSum.update(vmm, length) / range};
  }
};
BW_INDICATOR(VortexIndicator, "vortex_indicator", "120086", Group::Volatility, "Vortex indicator, [plus, minus].",
             outputs({"plus", "length + 1"}, {"minus", "length + 1"}), length("length", 14));

// [(n + highestbars(high, n + 1)) * 100 / n, the same for lowestbars(low)]: 100 when the extreme
// is on the current bar, 0 when it is n bars back. First value on step n + 1.
struct Aroon {
  static constexpr uint16_t reads = kHigh | kLow;
  ExtremeScan hs, ls;
  std::array<double, 2> step(const RuntimeCtx& rt, int64_t length) {
    // A window longer than any history never warms up; saturate instead of overflowing.
    const int64_t window = length < std::numeric_limits<int64_t>::max() ? length + 1 : length;
    const auto hb = highestbars(hs, rt.high, window);
    const auto lb = lowestbars(ls, rt.low, window);
    const auto score = [length](std::optional<int64_t> bars) {
      return bars ? static_cast<double>((length + *bars) * 100) / static_cast<double>(length) : kNaN;
    };
    return {score(hb), score(lb)};
  }
};
BW_INDICATOR(Aroon, "aroon", "39638b", Group::Volatility, "Aroon, [up, down].",
             outputs({"up", "length + 1"}, {"down", "length + 1"}), length("length", 14));

// Keltner channels, [basis, upper, lower]: basis = ema (or sma) of src over length, bands at
// basis ± mult * atr(atrLength) (or, without useAtr, rma(high - low, length)). Every average is
// kept on every step, so the flags may change between steps.
struct KeltnerChannels {
  static constexpr uint16_t reads = kBarRange;
  SeededAverage emaBasis, rangeAvg;
  WindowSum smaBasis;
  AtrBlock atr;
  NumSeries range;
  std::array<double, 3> step(const RuntimeCtx& rt, const NumSeries& src, int64_t length, double mult, bool useEma,
                             bool useAtr, int64_t atrLength) {
    const double e = ema(emaBasis, src, length);
    const double s = sma(smaBasis, src, length);
    const double a = atr.update(rt, atrLength);
    range.push(rt.high[0] - rt.low[0]);
    const double r = rma(rangeAvg, range, length);
    const double basis = useEma ? e : s;
    const double band = useAtr ? a : r;
    return {basis, basis + band * mult, basis - band * mult};
  }
};
BW_INDICATOR(KeltnerChannels, "keltner_channels", Group::Volatility,
             "Keltner channels, [basis, upper, lower]: an ema or sma of src, bands mult atrs (or bar ranges) away.",
             outputs({"basis", "length"}, {"upper", "useAtr ? max(length, atrLength) : length"},
                     {"lower", "useAtr ? max(length, atrLength) : length"}),
             series("src"), length("length", 20), real("mult", 2.0), flag("useEma", true), flag("useAtr", true),
             length("atrLength", 10));

// Parabolic SAR. The second step opens a trend from the two closes (rising: long, the stop at the
// first low; else short, at the first high); each step moves the stop by the acceleration
// towards the extreme point, reverses when the bar crosses it (the stop jumps to the extreme,
// the acceleration restarts), raises the acceleration by `increment` (up to `maximum`) on each
// new extreme, and keeps the stop beyond the previous two bars. Steps count from the instance's
// first, so the first value comes on step 2.
struct Sar {
  static constexpr uint16_t reads = kBarRange;
  int64_t steps = 0;
  double result = kNaN, extreme = kNaN, acceleration = kNaN;
  int8_t below = 2;  // the stop lies below the bars (long): 1, above: 0, no trend yet: 2

  double step(const RuntimeCtx& rt, double start, double increment, double maximum) {
    ++steps;
    const double high = rt.high[0], low = rt.low[0];
    bool firstTrendBar = false;
    if (steps == 2) {
      if (rt.close[0] > rt.close[1]) {
        below = 1;
        extreme = high;
        result = rt.low[1];
      } else {
        below = 0;
        extreme = low;
        result = rt.high[1];
      }
      firstTrendBar = true;
      acceleration = start;
    }
    result = result + acceleration * (extreme - result);
    if (below == 1) {
      if (result > low) {
        firstTrendBar = true;
        below = 0;
        result = maxOf(high, extreme);
        extreme = low;
        acceleration = start;
      }
    } else if (result < high) {
      firstTrendBar = true;
      below = 1;
      result = minOf(low, extreme);
      extreme = high;
      acceleration = start;
    }
    if (!firstTrendBar) {
      if (below == 1 ? high > extreme : low < extreme) {
        extreme = below == 1 ? high : low;
        acceleration = minOf(acceleration + increment, maximum);
      }
    }
    if (below == 1) {
      result = minOf(result, rt.low[1]);
      if (steps > 2) result = minOf(result, rt.low[2]);
    } else {
      result = maxOf(result, rt.high[1]);
      if (steps > 2) result = maxOf(result, rt.high[2]);
    }
    return result;
  }
};
BW_INDICATOR(Sar, "sar", Group::Volatility, "Parabolic SAR: a trailing stop that accelerates towards each new extreme.",
             first("2"), real("start", 0.02), real("increment", 0.02), real("maximum", 0.2));

// Ichimoku cloud as series values, without the display shift: [conversion, base, spanA, spanB,
// lagging], where a line over n bars is the midpoint of highest(high, n) and lowest(low, n),
// spanA the midpoint of conversion and base, and lagging the close.
struct Ichimoku {
  static constexpr uint16_t reads = kBarRange;
  ExtremeScan convHigh, convLow, baseHigh, baseLow, spanHigh, spanLow;
  std::array<double, 5> step(const RuntimeCtx& rt, int64_t conversionPeriods, int64_t basePeriods,
                             int64_t spanBPeriods) {
    const auto line = [&](ExtremeScan& hs, ExtremeScan& ls, int64_t n) {
      const double lo = lowest(ls, rt.low, n);
      return (lo + highest(hs, rt.high, n)) / 2;
    };
    const double conversion = line(convHigh, convLow, conversionPeriods);
    const double base = line(baseHigh, baseLow, basePeriods);
    const double spanB = line(spanHigh, spanLow, spanBPeriods);
    return {conversion, base, (conversion + base) / 2, spanB, rt.close[0]};
  }
};
BW_INDICATOR(Ichimoku, "ichimoku", Group::Volatility,
             "Ichimoku cloud without the display shift, [conversion, base, spanA, spanB, lagging].",
             outputs({"conversion", "conversionPeriods"}, {"base", "basePeriods"},
                     {"spanA", "max(conversionPeriods, basePeriods)"}, {"spanB", "spanBPeriods"}, {"lagging", "1"}),
             length("conversionPeriods", 9), length("basePeriods", 26), length("spanBPeriods", 52));

}  // namespace
}  // namespace bw::rt
