// The fill model: which price an order fills at on a bar, and what the fill costs. Every fill
// price and commission of the engine comes from here.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/error.h"
#include "core/ohlcv.h"
#include "core/trade.h"

namespace bw {

// What each fill pays: percent × notional + perUnit × |size| + perOrder, and at least `minimum`.
// All default to 0 (no commission at all).
struct Commission {
  double percent = 0;  // a fraction of the notional: 0.001 is 0.1 %
  double perUnit = 0;
  double perOrder = 0;
  double minimum = 0;

  bool any() const { return percent != 0 || perUnit != 0 || perOrder != 0 || minimum != 0; }
  // The commission of a fill of |quantity| at price; 0 when nothing fills.
  double of(double quantity, double price) const;
};

// How far a fill price moves against the order before it is rounded to the tick: by a fraction
// of the price, then by a number of ticks. Both default to 0.
struct Slippage {
  double ticks = 0;
  double percent = 0;

  bool any() const { return ticks != 0 || percent != 0; }
};

struct Costs {
  Commission commission;
  Slippage slippage;

  // Every value must be a finite number at or above 0; the error names the first that is not
  // ("commission.percent").
  Result<Unit> validate() const;
};

// Where a limit, stop or stop-limit order fills on one bar.
struct RestingFill {
  double raw = kNaN;       // the bar's price it fills at, before slippage; NaN: no fill on this bar
  bool atOpen = false;     // it filled at the bar's open (the open was already past its price)
  bool triggered = false;  // a stop-limit's stop was reached on this bar
};

// The exit levels of one open trade for one bar, as absolute prices (NaN for a leg it lacks).
struct ExitLevels {
  double side = 1;          // the trade's direction: +1 long, -1 short
  double stop = kNaN;       // below a long, above a short
  bool trailing = false;    // the stop is the trailing stop's (tighter than the stop-loss)
  double target = kNaN;     // above a long, below a short
};

enum class ExitLeg : uint8_t { None, StopLoss, TakeProfit, TrailingStop };
std::string_view exitLegName(ExitLeg leg);  // "stop loss", "take profit", "trailing stop"

struct ExitFill {
  ExitLeg leg = ExitLeg::None;
  double raw = kNaN;  // before slippage
};

// std::round (halves away from zero) without a library call: below 2^52 the fraction x - trunc(x)
// is exact, so the half is compared exactly; above, every double is whole already.
inline double roundHalfAway(double x) {
  const double a = std::fabs(x);
  if (!(a < 0x1p52)) return x;  // whole, infinite or NaN
  double whole = static_cast<double>(static_cast<int64_t>(a));
  if (a - whole >= 0.5) whole += 1;
  return std::copysign(whole, x);
}

// roundToMinTick, inline for the bar loop: the same rounding of the same quotient.
inline double roundToTick(double value, double minTick) {
  if (std::isnan(value)) return 0.0;
  if (std::isnan(minTick)) return value;
  return roundHalfAway(value / minTick) * minTick;
}

class FillModel {
 public:
  FillModel(double minTick, bool onClose, Costs costs = {}) : minTick_(minTick), onClose_(onClose), costs_(costs) {}

  // Orders fill at the close of a bar, else at its open.
  bool onClose() const { return onClose_; }
  const Costs& costs() const { return costs_; }

  // The price a market order of `size` (its sign is the side) fills at on this bar: its open, or
  // its close in close mode, moved by the slippage and put on the tick grid. NaN when the bar
  // lacks that price (NaN or infinite): nothing fills at a price the bar does not have.
  double marketPrice(const OhlcvBar& bar, double size) const { return fillPrice(onClose_ ? bar.close : bar.open, size); }
  // The price open trades are valued at: the bar's close on the tick grid, NaN when it has none.
  double markPrice(const OhlcvBar& bar) const { return fillPrice(bar.close, 0); }
  // A raw price of the bar as a fill of `size`: slipped against the order, then on the tick grid.
  double fillPrice(double raw, double size) const {
    // The tick rounding turns a missing price into 0, a price no market ever had; keep it missing.
    if (!std::isfinite(raw)) return kNaN;
    if (!costs_.slippage.any() || !(size > 0 || size < 0)) return roundToTick(raw, minTick_);
    return slippedPrice(raw, size);
  }
  // Whether and where a limit, stop or stop-limit order fills on this bar, from the bar's open,
  // high and low. A buy limit fills when the low reaches its price, at that price or at the open
  // when the bar opened below it; a buy stop when the high reaches its price, at that price or at
  // the open when the bar gapped above it; sells mirror this. A stop-limit whose stop is reached
  // becomes a limit order: it fills on the same bar only when its limit was marketable at the
  // trigger (at the trigger price) or the bar opened past the stop (then as a limit over the bar).
  RestingFill resting(const Order& order, const OhlcvBar& bar) const;
  // Which exit of an open trade fills on this bar, if any. `start` is where the trade stands
  // when the bar's range begins for it: the bar's open, or its entry price on the bar it was
  // entered on. A level already passed at the start fills at the start; otherwise a level the
  // range reaches fills at the level. When both could fill within the bar the stop fills: the
  // range does not tell which came first, so the worse outcome is taken. Without `targetLive` only
  // the stop is checked (an entry inside the bar, after which the high or low may have come first).
  ExitFill exit(const ExitLevels& levels, double start, const OhlcvBar& bar, bool targetLive) const;
  // What a fill of |quantity| at price pays.
  double commission(double quantity, double price) const { return costs_.commission.of(quantity, price); }

 private:
  double slippedPrice(double raw, double size) const;

  double minTick_;
  bool onClose_;
  Costs costs_;
};

}  // namespace bw
