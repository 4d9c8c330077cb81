// Volume-based indicators: price moves weighed by traded volume, and the advance/decline ratio
// of up and down bars.
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>

#include "core/datetime.h"
#include "core/resample.h"
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

// On-balance volume: the running total of sign(close - close[1]) * volume. The first bar has no
// change, so the total starts on step 2, and restarts after a missing one like cum.
struct Obv {
  static constexpr uint16_t reads = kClose | kVolume;
  double total = kNaN;
  double step(const RuntimeCtx& rt) {
    const double change = rt.close[0] - rt.close[1];
    const double sign = missing(change) ? kNaN : change > 0 ? 1.0 : change < 0 ? -1.0 : 0.0;
    const double x = sign * rt.volume[0];
    total = missing(x) ? kNaN : z(total) + x;
    return total;
  }
};
BW_INDICATOR(Obv, "obv", Group::Volume, "On-balance volume, the running total of volume signed by the close's change.",
             first("2"));

// Volume-weighted average price of src since the start of the current period of `anchor` (a
// calendar day by default), with bands mult standard deviations of src (volume-weighted) away:
// [vwap, upper, lower]. A period starts on the first step and whenever a bar's open time falls in
// a later bucket of the anchor; bars without an open time, and anchors that are not a positive
// count of a time unit, start none. A missing src or volume makes the sums missing until the
// next period.
struct Vwap {
  static constexpr uint16_t reads = kVolume | kOpenTime;
  bool started = false;
  std::optional<DateTime> bucket;
  double sumSrcVol = kNaN, sumVol = kNaN, sumSrcSrcVol = kNaN;

  bool newPeriod(const RuntimeCtx& rt, const Timeframe& anchor) {
    std::optional<DateTime> now;
    const auto ms = rt.open_time[0];
    if (ms && anchor.isTimeBased() && anchor.count >= 1 && anchor.count <= INT32_MAX)
      if (const auto t = DateTime::fromMillis(*ms)) now = bucketStart(*t, anchor.unit, static_cast<int32_t>(anchor.count));
    const bool fresh = !started || (now && bucket && *now != *bucket) || (now && !bucket);
    started = true;
    if (now) bucket = now;
    return fresh;
  }

  std::array<double, 3> step(const RuntimeCtx& rt, const NumSeries& src, Timeframe anchor, double mult) {
    const bool fresh = newPeriod(rt, anchor);
    const double x = src[0], v = rt.volume[0];
    sumSrcVol = fresh ? x * v : x * v + sumSrcVol;
    sumVol = fresh ? v : v + sumVol;
    sumSrcSrcVol = fresh ? v * (x * x) : v * (x * x) + sumSrcSrcVol;
    const double vwap = sumSrcVol / sumVol;
    const double variance = sumSrcSrcVol / sumVol - vwap * vwap;
    const double sd = std::sqrt(variance < 0 ? 0.0 : variance);
    return {vwap, vwap + sd * mult, vwap - sd * mult};
  }
};
BW_INDICATOR(Vwap, "vwap", Group::Volume,
             "Volume-weighted average price of src anchored to each period of anchor, [vwap, upper, lower].",
             outputs({"vwap", "1"}, {"upper", "1"}, {"lower", "1"}), series("src"),
             period("anchor", Timeframe::of(TimeUnit::Days, 1)), real("mult", 1.0));

}  // namespace
}  // namespace bw::rt
