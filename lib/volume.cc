// Volume-based indicators: price moves weighed by traded volume, and the advance/decline ratio
// of up and down bars.
#include <cstdint>

#include "runtime/indicator.h"

namespace bw::rt {
namespace {

// Running total of ((close - low) - (high - close)) / (high - low) * volume; a bar whose term is
// missing (high = low, or a missing field) adds nothing, so the total is defined from step 1.
struct Accdist {
  static constexpr uint16_t reads = kHigh | kLow | kClose | kVolume;
  double total = 0.0;
  double step(const RuntimeCtx& rt) {
    const double h = rt.high[0], l = rt.low[0], c = rt.close[0];
    const double term = (((c - l) - (h - c)) / (h - l)) * rt.volume[0];
    total = z(total) + z(term);
    return total;
  }
};
BW_INDICATOR(Accdist, "accdist", "8c0ce2", Group::Volume, "Accumulation/distribution line.", first("1"));

// sum(ad, n) / sum(volume, n) with ad the bar's close location times its volume (0 for a bar
// without range); first value on step n.
struct ChaikinMoneyFlow {
  static constexpr uint16_t reads = kHigh | kLow | kClose | kVolume;
  NumSeries ad;
  WindowSum adSum, volumeSum;
  double step(const RuntimeCtx& rt, int64_t length) {
    const double h = rt.high[0], l = rt.low[0], c = rt.close[0];
    ad.push(((c == h && c == l) || h == l) ? 0.0 : ((((c + c) - l) - h) / (h - l)) * rt.volume[0]);
    const double flow = adSum.update(ad, length);
    return flow / volumeSum.update(rt.volume, length);
  }
};
BW_INDICATOR(ChaikinMoneyFlow, "chaikin_money_flow", "040712", Group::Volume, "Chaikin money flow.", first("length"),
             length("length", 20));

// 100 - 100 / (1 + U / L), U and L the n-bar sums of volume * src on up and down bars. The first
// bar has no change and counts in both sums; first value on step n.
struct MoneyFlowIndex {
  static constexpr uint16_t reads = kVolume;
  NumSeries upIn, dnIn;
  WindowSum upSum, dnSum;
  double step(const RuntimeCtx& rt, const NumSeries& src, int64_t length) {
    const double c = src[0] - src[1];
    const double v = rt.volume[0];
    upIn.push(v * (missing(c) ? src[0] : c <= 0 ? 0.0 : src[0]));
    dnIn.push(v * (missing(c) ? src[0] : c >= 0 ? 0.0 : src[0]));
    const double u = upSum.update(upIn, length);
    const double l = dnSum.update(dnIn, length);
    return 100 - 100 / (1 + u / l);
  }
};
BW_INDICATOR(MoneyFlowIndex, "money_flow_index", "7401be", Group::Volume, "Money flow index.", first("length"),
             series("src"), length("length", 14));

// sma(divisor * (hl2 - hl2[1]) * (high - low) / volume, n); the first bar has no move, so the
// first value comes on step n + 1.
struct EaseOfMovement {
  static constexpr uint16_t reads = kHigh | kLow | kVolume | kHl2;
  NumSeries x;
  WindowSum sum;
  double step(const RuntimeCtx& rt, int64_t length, int64_t divisor) {
    x.push(((static_cast<double>(divisor) * (rt.hl2[0] - rt.hl2[1])) * (rt.high[0] - rt.low[0])) / rt.volume[0]);
    return sma(sum, x, length);
  }
};
BW_INDICATOR(EaseOfMovement, "ease_of_movement", "6ab669", Group::Volume, "Ease of movement.", first("length + 1"),
             length("length", 14), integer("divisor", 10000));

// ema((close - close[1]) * volume, n); first value on step n + 1.
struct ElderForceIndex {
  static constexpr uint16_t reads = kClose | kVolume;
  NumSeries x;
  SeededAverage avg;
  double step(const RuntimeCtx& rt, int64_t length) {
    x.push((rt.close[0] - rt.close[1]) * rt.volume[0]);
    return ema(avg, x, length);
  }
};
BW_INDICATOR(ElderForceIndex, "elder_force_index", "782d84", Group::Volume, "Elder force index.", first("length + 1"),
             length("length", 13));

// ((s - l) / l) * 100 with s, l the short and long ema of volume.
struct VolumeOscillator {
  static constexpr uint16_t reads = kVolume;
  SeededAverage shortAvg, longAvg;
  double step(const RuntimeCtx& rt, int64_t shortLength, int64_t longLength) {
    const double s = ema(shortAvg, rt.volume, shortLength);
    const double l = ema(longAvg, rt.volume, longLength);
    return ((s - l) / l) * 100;
  }
};
BW_INDICATOR(VolumeOscillator, "volume_oscillator", "91e2a8", Group::Volume,
             "Volume oscillator, percentage difference of two volume averages.",
             first("max(shortLength, longLength)"), length("shortLength", 5), length("longLength", 10));

// A / D with A, D the n-bar counts of up (close >= open) and down bars; A itself when no bar in
// the window fell. A bar without a close or open counts as neither. First value on step n.
struct AdvanceDeclineRatio {
  static constexpr uint16_t reads = kOpen | kClose;
  NumSeries adv, dec;
  WindowSum advSum, decSum;
  double step(const RuntimeCtx& rt, int64_t length) {
    const double d = rt.close[0] - rt.open[0];
    adv.push(d >= 0 ? 1.0 : 0.0);
    dec.push(d < 0 ? 1.0 : 0.0);
    const double a = advSum.update(adv, length);
    const double b = decSum.update(dec, length);
    return b == 0 ? a : a / b;
  }
};
BW_INDICATOR(AdvanceDeclineRatio, "advance_decline_ratio", "c534f8", Group::Volume,
             "Advance/decline ratio of up and down bars.", first("length"), length("length", 9));

}  // namespace
}  // namespace bw::rt
