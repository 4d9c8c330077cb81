// Momentum and average-difference oscillators: differences and rates of change over a fixed
// number of bars, and oscillators formed from moving averages of the input.
#include <array>
#include <cmath>
#include <cstdint>

#include "runtime/indicator.h"

namespace bw::rt {
namespace {

// (100 * (x - x[n])) / x[n]; missing while the history holds n values or fewer.
double rateOfChange(const NumSeries& x, int64_t n) { return (100 * (x[0] - x[n])) / x[n]; }

// src - src[length]; missing on the first `length` steps.
struct Momentum {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) { return src[0] - src[length]; }
};
BW_INDICATOR(Momentum, "momentum", "d7f735", Group::Momentum, "Momentum, src - src[length].", first("length + 1"),
             series("src"), length("length", 10));

// (100 * (src - src[length])) / src[length]; missing on the first `length` steps.
struct Roc {
  double step(const RuntimeCtx&, const NumSeries& src, int64_t length) { return rateOfChange(src, length); }
};
BW_INDICATOR(Roc, "roc", "ba0b0c", Group::Momentum, "Rate of change in percent over length bars.",
             first("length + 1"), series("src"), length("length", 14));

// The MACD line ema(src, fast) - ema(src, slow); first value when the slow average has one.
struct Macd {
  SeededAverage fast, slow;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t fastLength, int64_t slowLength) {
    const double f = ema(fast, src, fastLength);
    return f - ema(slow, src, slowLength);
  }
};
BW_INDICATOR(Macd, "macd", "4e1ee0", Group::Momentum, "MACD line, ema(fast) - ema(slow).",
             first("max(fastLength, slowLength)"), series("src"), length("fastLength", 12), length("slowLength", 26));

// ((ef - es) / es) * 100 with ef, es the fast and slow ema of src.
struct PriceOscillator {
  SeededAverage fast, slow;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t fastLength, int64_t slowLength) {
    const double ef = ema(fast, src, fastLength);
    const double es = ema(slow, src, slowLength);
    return ((ef - es) / es) * 100;
  }
};
BW_INDICATOR(PriceOscillator, "price_oscillator", "740861", Group::Momentum, "Percentage price oscillator.",
             first("max(fastLength, slowLength)"), series("src"), length("fastLength", 12), length("slowLength", 26));

// ema(src, shorter) - ema(src, longer): the order of the two lengths does not matter.
struct AbsolutePriceOscillator {
  SeededAverage shortAvg, longAvg;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t fastLength, int64_t slowLength) {
    const bool fastIsShort = static_cast<double>(fastLength) < static_cast<double>(slowLength);
    const int64_t shortLength = fastIsShort ? fastLength : slowLength;
    const int64_t longLength = fastIsShort ? slowLength : fastLength;
    const double s = ema(shortAvg, src, shortLength);
    return s - ema(longAvg, src, longLength);
  }
};
BW_INDICATOR(AbsolutePriceOscillator, "absolute_price_oscillator", "ef9439", Group::Momentum,
             "Absolute price oscillator (the order of the two lengths does not matter).",
             first("max(fastLength, slowLength)"), series("src"), length("fastLength", 12), length("slowLength", 26));

// ao = sma(src, slow) - sma(src, fast), value = ao - ao[1]; first value one step after the slow
// average's (step 35 by default).
struct AwesomeOscillator {
  WindowSum slow, fast;
  double prevAo = kNaN;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t fastLength, int64_t slowLength) {
    const double s = sma(slow, src, slowLength);
    const double ao = s - sma(fast, src, fastLength);
    const double value = ao - prevAo;
    prevAo = ao;
    return value;
  }
};
BW_INDICATOR(AwesomeOscillator, "awesome_oscillator", "7b4eb9", Group::Momentum,
             "Awesome oscillator, one-bar change of sma(slow) - sma(fast).", first("max(fastLength, slowLength) + 1"),
             series("src"), length("fastLength", 5), length("slowLength", 34));

// 10000 * (e3 - e3[1]) with e3 the triple ema of ln(close); src is only recorded. First value on
// step 3 * (length - 1) + 2.
struct Trix {
  static constexpr uint16_t reads = kClose;
  NumSeries x, e1, e2, e3;
  SeededAverage a1, a2, a3;
  double step(const RuntimeCtx& rt, const NumSeries&, int64_t length) {
    x.push(std::log(rt.close[0]));
    e1.push(ema(a1, x, length));
    e2.push(ema(a2, e1, length));
    e3.push(ema(a3, e2, length));
    return 10000 * (e3[0] - e3[1]);
  }
};
BW_INDICATOR(Trix, "trix", "bc56c3", Group::Momentum, "TRIX of the log closes (src is recorded but not used).",
             first("3 * length - 1"), series("src"), length("length", 18));

// 100 * (ema(ema(pc, long), short) / ema(ema(|pc|, long), short)) with pc = src - src[1].
struct TrueStrengthIndex {
  NumSeries pc, apc, pcLong, apcLong;
  SeededAverage pcLongAvg, pcShortAvg, apcLongAvg, apcShortAvg;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t longLength, int64_t shortLength) {
    pc.push(src[0] - src[1]);
    apc.push(std::fabs(pc[0]));
    pcLong.push(ema(pcLongAvg, pc, longLength));
    const double num = ema(pcShortAvg, pcLong, shortLength);
    apcLong.push(ema(apcLongAvg, apc, longLength));
    const double den = ema(apcShortAvg, apcLong, shortLength);
    return 100 * (num / den);
  }
};
BW_INDICATOR(TrueStrengthIndex, "true_strength_index", "a9d511", Group::Momentum, "True strength index.",
             first("longLength + shortLength"), series("src"), length("longLength", 25), length("shortLength", 13));

// kst = a1 + 2 a2 + 3 a3 + 4 a4 with a_i = sma(roc(src, rocLength_i), smaLength_i), and its
// signal sma(kst, signalLength). Defaults: kst from step 45, signal from step 53.
struct KnowSureThing {
  std::array<NumSeries, 4> roc;
  std::array<WindowSum, 4> avg;
  NumSeries kst;
  WindowSum signal;
  std::array<double, 2> step(const RuntimeCtx&, const NumSeries& src, int64_t r1, int64_t r2, int64_t r3, int64_t r4,
                             int64_t s1, int64_t s2, int64_t s3, int64_t s4, int64_t signalLength) {
    const int64_t rocLength[4] = {r1, r2, r3, r4};
    const int64_t smaLength[4] = {s1, s2, s3, s4};
    double a[4];
    for (int i = 0; i < 4; ++i) {
      roc[i].push(rateOfChange(src, rocLength[i]));
      a[i] = sma(avg[i], roc[i], smaLength[i]);
    }
    kst.push(((a[0] + 2 * a[1]) + 3 * a[2]) + 4 * a[3]);
    return {kst[0], sma(signal, kst, signalLength)};
  }
};
BW_INDICATOR(KnowSureThing, "know_sure_thing", "7bcbff", Group::Momentum, "Know sure thing, [kst, signal].",
             outputs({"kst", "max(rocLength1 + smaLength1, rocLength2 + smaLength2, rocLength3 + smaLength3, "
                             "rocLength4 + smaLength4)"},
                     {"signal", "max(rocLength1 + smaLength1, rocLength2 + smaLength2, rocLength3 + smaLength3, "
                                "rocLength4 + smaLength4) + signalLength - 1"}),
             series("src"), length("rocLength1", 10), length("rocLength2", 15), length("rocLength3", 20),
             length("rocLength4", 30), length("smaLength1", 10), length("smaLength2", 10), length("smaLength3", 10),
             length("smaLength4", 15), length("signalLength", 9));

// wma(roc(src, long) + roc(src, short), wmaLength); first value on step 24 by default.
struct CoppockCurve {
  NumSeries c;
  double step(const RuntimeCtx&, const NumSeries& src, int64_t wmaLength, int64_t longRocLength,
              int64_t shortRocLength) {
    c.push(rateOfChange(src, longRocLength) + rateOfChange(src, shortRocLength));
    return wma(c, wmaLength);
  }
};
BW_INDICATOR(CoppockCurve, "coppock_curve", "b2c42b", Group::Momentum, "Coppock curve.",
             first("max(longRocLength, shortRocLength) + wmaLength"), series("src"), length("wmaLength", 10),
             length("longRocLength", 14), length("shortRocLength", 11));

// With ma = sma(close, n) and back = trunc(n / 2 + 1): close - ma[back], or close[back] - ma when
// centered. Defaults: first value on step 32, or 21 when centered.
struct DetrendedPriceOscillator {
  static constexpr uint16_t reads = kClose;
  WindowSum sum;
  NumSeries ma;
  double step(const RuntimeCtx& rt, int64_t length, bool centered) {
    ma.push(sma(sum, rt.close, length));
    const auto back = static_cast<int64_t>(0.5 * static_cast<double>(length) + 1);
    return centered ? rt.close[back] - ma[0] : rt.close[0] - ma[back];
  }
};
BW_INDICATOR(DetrendedPriceOscillator, "detrended_price_oscillator", "36f9a0", Group::Momentum,
             "Detrended price oscillator of the closes.",
             first("centered ? max(length, trunc(0.5 * length + 1) + 1) : length + trunc(0.5 * length + 1)"),
             length("length", 21), flag("centered", false));

// (high - e) - (low - e) with e = ema(close, length): the bar's range once the average is defined.
struct BullBearPower {
  static constexpr uint16_t reads = kHigh | kLow | kClose;
  SeededAverage avg;
  double step(const RuntimeCtx& rt, int64_t length) {
    const double e = ema(avg, rt.close, length);
    const double bull = rt.high[0] - e;
    const double bear = rt.low[0] - e;
    return bull - bear;
  }
};
BW_INDICATOR(BullBearPower, "bull_bear_power", "23f533", Group::Momentum,
             "Bull/bear power, (high - ema) - (low - ema).", first("length"), length("length", 13));

// MACD with its signal line and histogram, [macd, signal, hist]: macd = ema(src, fast) -
// ema(src, slow), signal = ema(macd, signalLength), hist = macd - signal.
struct MacdFull {
  SeededAverage fast, slow, signal;
  NumSeries line;
  std::array<double, 3> step(const RuntimeCtx&, const NumSeries& src, int64_t fastLength, int64_t slowLength,
                             int64_t signalLength) {
    const double f = ema(fast, src, fastLength);
    const double m = f - ema(slow, src, slowLength);
    line.push(m);
    const double s = ema(signal, line, signalLength);
    return {m, s, m - s};
  }
};
BW_INDICATOR(MacdFull, "macd_full", Group::Momentum,
             "MACD with its signal line and histogram, [macd, signal, hist].",
             outputs({"macd", "max(fastLength, slowLength)"},
                     {"signal", "max(fastLength, slowLength) + signalLength - 1"},
                     {"hist", "max(fastLength, slowLength) + signalLength - 1"}),
             series("src"), length("fastLength", 12), length("slowLength", 26), length("signalLength", 9));

}  // namespace
}  // namespace bw::rt
