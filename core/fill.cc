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

double FillModel::slippedPrice(double raw, double size) const {
  const double against = size > 0 ? 1.0 : -1.0;
  const double moved = raw * (1 + against * costs_.slippage.percent) + against * costs_.slippage.ticks * minTick_;
  return roundToTick(moved, minTick_);
}

namespace {

// A limit on the buying side fills at or below its price; `side` +1 buys, -1 sells. Prices are
// compared as side × price, so one rule serves both sides.
RestingFill limitOn(double side, double limit, double open, double reach) {
  // `reach` is the bar's most favourable price for the order: the low for a buy.
  if (side * open <= side * limit) return {open, true, false};
  if (side * reach <= side * limit) return {limit, false, false};
  return {};
}

RestingFill stopOn(double side, double stop, double open, double reach) {
  // `reach` is the bar's least favourable price for the order: the high for a buy.
  if (side * open >= side * stop) return {open, true, false};
  if (side * reach >= side * stop) return {stop, false, false};
  return {};
}

}  // namespace

RestingFill FillModel::resting(const Order& o, const OhlcvBar& bar) const {
  const double side = o.size > 0 ? 1.0 : -1.0;
  const double favourable = side > 0 ? bar.low : bar.high;
  const double adverse = side > 0 ? bar.high : bar.low;
  switch (o.type()) {
    case OrderType::Limit:
      return limitOn(side, *o.terms.limitPrice, bar.open, favourable);
    case OrderType::Stop:
      return stopOn(side, *o.terms.stopPrice, bar.open, adverse);
    case OrderType::StopLimit: {
      const double limit = *o.terms.limitPrice;
      if (o.triggered) return limitOn(side, limit, bar.open, favourable);
      const RestingFill stop = stopOn(side, *o.terms.stopPrice, bar.open, adverse);
      if (std::isnan(stop.raw)) return {};
      // Past the stop at the open: a limit over the whole bar.
      if (stop.atOpen) {
        RestingFill r = limitOn(side, limit, bar.open, favourable);
        r.triggered = true;
        return r;
      }
      // Reached inside the bar: the limit fills at the trigger when that price is within it; a
      // limit on the other side of the stop needs the price to come back, which the bar cannot
      // show after the trigger, so it waits for the next bar.
      if (side * stop.raw <= side * limit) return {stop.raw, false, true};
      return {kNaN, false, true};
    }
    default:
      return {};
  }
}

std::string_view exitLegName(ExitLeg leg) {
  switch (leg) {
    case ExitLeg::StopLoss: return "stop loss";
    case ExitLeg::TakeProfit: return "take profit";
    case ExitLeg::TrailingStop: return "trailing stop";
    default: return "";
  }
}

ExitFill FillModel::exit(const ExitLevels& l, double start, const OhlcvBar& bar, bool targetLive) const {
  const double s = l.side;
  const ExitLeg stopLeg = l.trailing ? ExitLeg::TrailingStop : ExitLeg::StopLoss;
  const double adverse = s > 0 ? bar.low : bar.high;
  const double favourable = s > 0 ? bar.high : bar.low;
  // Already past a level where the bar starts for the trade: out at the start.
  if (s * start <= s * l.stop) return {stopLeg, start};
  if (targetLive && s * start >= s * l.target) return {ExitLeg::TakeProfit, start};
  // Within the bar; the stop first when both are reached.
  if (s * adverse <= s * l.stop) return {stopLeg, l.stop};
  if (targetLive && s * favourable >= s * l.target) return {ExitLeg::TakeProfit, l.target};
  return {};
}

}  // namespace bw
