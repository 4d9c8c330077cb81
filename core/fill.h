// The fill model: which price an order fills at on a bar, and what the fill costs. Every fill
// price and commission of the engine comes from here.
#pragma once

#include "core/error.h"
#include "core/ohlcv.h"

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

class FillModel {
 public:
  FillModel(double minTick, bool onClose, Costs costs = {}) : minTick_(minTick), onClose_(onClose), costs_(costs) {}

  // Orders fill at the close of a bar, else at its open.
  bool onClose() const { return onClose_; }
  const Costs& costs() const { return costs_; }

  // The price a market order of `size` (its sign is the side) fills at on this bar: its open, or
  // its close in close mode, moved by the slippage and put on the tick grid. NaN when the bar
  // lacks that price (NaN or infinite): nothing fills at a price the bar does not have.
  double marketPrice(const OhlcvBar& bar, double size) const;
  // The price open trades are valued at: the bar's close on the tick grid, NaN when it has none.
  double markPrice(const OhlcvBar& bar) const;
  // A raw price of the bar as a fill of `size`: slipped against the order, then on the tick grid.
  double fillPrice(double raw, double size) const;
  // What a fill of |quantity| at price pays.
  double commission(double quantity, double price) const { return costs_.commission.of(quantity, price); }

 private:
  double minTick_;
  bool onClose_;
  Costs costs_;
};

}  // namespace bw
