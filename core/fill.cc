#include "core/fill.h"

#include "core/sym.h"

namespace bw {

double FillModel::marketPrice(const OhlcvBar& bar) const {
  return roundToMinTick(onClose_ ? bar.close : bar.open, minTick_);
}

double FillModel::markPrice(const OhlcvBar& bar) const { return roundToMinTick(bar.close, minTick_); }

}  // namespace bw
