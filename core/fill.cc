#include "core/fill.h"

#include "core/sym.h"

#include <cmath>

namespace bw {

namespace {

// The tick rounding turns a missing price into 0, a price no market ever had; keep it missing.
double onGrid(double price, double minTick) {
  return std::isfinite(price) ? roundToMinTick(price, minTick) : kNaN;
}

}  // namespace

double FillModel::marketPrice(const OhlcvBar& bar) const { return onGrid(onClose_ ? bar.close : bar.open, minTick_); }

double FillModel::markPrice(const OhlcvBar& bar) const { return onGrid(bar.close, minTick_); }

}  // namespace bw
