// The fill model: which price an order fills at on a bar. Every fill price of the engine comes
// from here, so this is where trading costs and order types plug in.
#pragma once

#include "core/ohlcv.h"

namespace bw {

class FillModel {
 public:
  FillModel(double minTick, bool onClose) : minTick_(minTick), onClose_(onClose) {}

  // Orders fill at the close of a bar, else at its open.
  bool onClose() const { return onClose_; }
  // The price market orders fill at on this bar: its open, or its close in close mode, on the
  // tick grid. NaN when the bar lacks that price (NaN or infinite): nothing fills at a price the
  // bar does not have.
  double marketPrice(const OhlcvBar& bar) const;
  // The price open trades are valued at: the bar's close on the tick grid, NaN when it has none.
  double markPrice(const OhlcvBar& bar) const;

 private:
  double minTick_;
  bool onClose_;
};

}  // namespace bw
