// What an order may say beyond "fill at the next pass": a limit and a stop price, how many bars
// it stays live, and the exits it attaches to the trade it opens. A signal carries these terms
// to the order it becomes; a plain signal has none and makes a market order.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "core/error.h"

namespace bw {

enum class OrderType : uint8_t { Market, Limit, Stop, StopLimit };

// An exit level: an absolute price, or a fraction of the entry's fill price away from it
// (below it for a long's stop-loss, above it for a long's take-profit).
struct ExitLevel {
  bool relative = false;
  double value = 0;

  static ExitLevel price(double p) { return {false, p}; }
  static ExitLevel pct(double x) { return {true, x}; }
  // The absolute price for an entry filled at `fill`; `away` is +1 above it, -1 below it.
  double at(double fill, double away) const { return relative ? fill * (1 + away * value) : value; }
  friend bool operator==(const ExitLevel&, const ExitLevel&) = default;
};

// A stop that follows the best price since entry at a fixed distance: a fraction of that price,
// or a number of ticks.
struct TrailingStop {
  bool ticks = false;
  double value = 0;

  friend bool operator==(const TrailingStop&, const TrailingStop&) = default;
};

struct OrderTerms {
  std::optional<double> limitPrice;  // Limit, and the limit of a StopLimit
  std::optional<double> stopPrice;   // Stop, and the trigger of a StopLimit
  // Bars the order stays live, from the first bar it may fill on; absent: until it fills or is
  // cancelled.
  std::optional<int32_t> timeInForce;
  std::optional<ExitLevel> stopLoss;
  std::optional<ExitLevel> takeProfit;
  std::optional<TrailingStop> trailingStop;

  OrderType type() const {
    if (limitPrice && stopPrice) return OrderType::StopLimit;
    if (limitPrice) return OrderType::Limit;
    if (stopPrice) return OrderType::Stop;
    return OrderType::Market;
  }
  bool hasExits() const { return stopLoss || takeProfit || trailingStop; }
  // None of the terms: a market order as the signal kinds alone describe it.
  bool plain() const { return !limitPrice && !stopPrice && !timeInForce && !hasExits(); }

  // Checks what can be checked without a market: prices and levels finite and above 0, a time
  // in force of at least one bar. `reference` is the price the entry is expected near (NaN when
  // unknown); `side` the sign of its size. The error names the field.
  Result<Unit> validate(double side, double reference) const;
  friend bool operator==(const OrderTerms&, const OrderTerms&) = default;
};

std::string_view orderTypeName(OrderType t);  // "market", "limit", "stop", "stop_limit"

}  // namespace bw
