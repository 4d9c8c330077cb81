#include "core/order_terms.h"

#include "core/numfmt.h"

namespace bw {

namespace {

Error bad(const std::string& field, const std::string& what) { return invalidArg("Signal " + field + " " + what); }

bool positive(double x) { return std::isfinite(x) && x > 0; }

Result<Unit> checkLevel(const char* field, const std::optional<ExitLevel>& level, double side, double reference,
                        double away) {
  if (!level) return Unit{};
  if (!positive(level->value))
    return bad(field, std::string(level->relative ? "pct" : "price") + " must be a finite number above 0, got " +
                          formatPlainNumber(level->value));
  if (level->relative || std::isnan(reference) || std::isnan(side)) return Unit{};
  // A long's stop-loss lies below the entry and its take-profit above it; a short's the other way.
  const double direction = side * away;
  if (direction > 0 ? level->value > reference : level->value < reference) return Unit{};
  return bad(field, formatPlainNumber(level->value) + " is on the wrong side of the entry: a " +
                        (side > 0 ? "buy" : "sell") + " needs it " + (direction > 0 ? "above " : "below ") +
                        formatPlainNumber(reference));
}

}  // namespace

Result<Unit> OrderTerms::validate(double side, double reference) const {
  if (limitPrice && !positive(*limitPrice))
    return bad("limitPrice", "must be a finite number above 0, got " + formatPlainNumber(*limitPrice));
  if (stopPrice && !positive(*stopPrice))
    return bad("stopPrice", "must be a finite number above 0, got " + formatPlainNumber(*stopPrice));
  if (timeInForce && *timeInForce < 1)
    return bad("timeInForce", "must be at least 1 bar, got " + std::to_string(*timeInForce));
  BW_TRY(checkLevel("stopLoss", stopLoss, side, reference, -1));
  BW_TRY(checkLevel("takeProfit", takeProfit, side, reference, +1));
  if (trailingStop && !positive(trailingStop->value))
    return bad("trailingStop", std::string(trailingStop->ticks ? "ticks" : "pct") +
                                   " must be a finite number above 0, got " + formatPlainNumber(trailingStop->value));
  if (trailingStop && !trailingStop->ticks && trailingStop->value >= 1)
    return bad("trailingStop", "pct must be below 1, got " + formatPlainNumber(trailingStop->value));
  return Unit{};
}

std::string_view orderTypeName(OrderType t) {
  switch (t) {
    case OrderType::Limit: return "limit";
    case OrderType::Stop: return "stop";
    case OrderType::StopLimit: return "stop_limit";
    default: return "market";
  }
}

}  // namespace bw
