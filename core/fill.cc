#include "core/fill.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/numfmt.h"
#include "core/sym.h"

namespace bw {

double Commission::of(double quantity, double price) const {
  const double q = std::fabs(quantity);
  if (!any() || !(q > 0)) return 0;
  return std::max(minimum, percent * q * std::fabs(price) + perUnit * q + perOrder);
}

Result<Unit> Costs::validate() const {
  const struct {
    const char* name;
    double value;
  } fields[] = {
      {"commission.percent", commission.percent}, {"commission.perUnit", commission.perUnit},
      {"commission.perOrder", commission.perOrder}, {"commission.minimum", commission.minimum},
      {"slippage.ticks", slippage.ticks},         {"slippage.percent", slippage.percent},
  };
  for (const auto& f : fields)
    if (!(std::isfinite(f.value) && f.value >= 0))
      return invalidArg(std::string("Backtest option ") + f.name + " must be a finite number at or above 0, got " +
                        formatPlainNumber(f.value));
  return Unit{};
}

double FillModel::fillPrice(double raw, double size) const {
  // The tick rounding turns a missing price into 0, a price no market ever had; keep it missing.
  if (!std::isfinite(raw)) return kNaN;
  if (!costs_.slippage.any() || !(size > 0 || size < 0)) return roundToMinTick(raw, minTick_);
  const double against = size > 0 ? 1.0 : -1.0;
  const double moved = raw * (1 + against * costs_.slippage.percent) + against * costs_.slippage.ticks * minTick_;
  return roundToMinTick(moved, minTick_);
}

double FillModel::marketPrice(const OhlcvBar& bar, double size) const {
  return fillPrice(onClose_ ? bar.close : bar.open, size);
}

double FillModel::markPrice(const OhlcvBar& bar) const { return fillPrice(bar.close, 0); }

}  // namespace bw
