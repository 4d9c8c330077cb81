// The values that flow through the backtest engine: order requests, queued orders, trades with
// their entry and exit events, the direction of a trade and the failures of trade handling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/datetime.h"
#include "core/error.h"
#include "core/order_terms.h"
#include "core/sym.h"

namespace bw {

// The quantity grid of a symbol: sizes and positions stay on multiples of 1 / scale, where scale
// is round(1 / minQty) as checked when the backtest was made. A NaN minQty leaves sizes as they are.
struct QtyGrid {
  double minQty = kNaN;
  double scale = kNaN;

  double round(double size) const { return roundContracts(size, minQty, scale); }
};

// What the engine asks the order book to queue.
struct OrderConfig {
  std::optional<std::string> tag;  // copied into the events of every trade the order touches
  double size = 0;                 // signed contracts: positive buys, negative sells
  OrderTerms terms;                // none for a market order
  uint64_t liveFrom = 0;           // the first bar a limit or stop order may fill on
};

// A queued order.
struct Order {
  uint64_t id = 0;  // sequence number of the order book, from 0
  double size = 0;  // already on the quantity grid when the symbol has a minimum quantity
  std::optional<std::string> tag;
  OrderTerms terms;
  uint64_t liveFrom = 0;
  bool triggered = false;  // a stop-limit whose stop has been reached: a limit order from then on

  OrderType type() const { return terms.type(); }
  // The last bar the order may fill on, when it has a time in force.
  std::optional<uint64_t> lastBar() const {
    if (!terms.timeInForce) return std::nullopt;
    return liveFrom + static_cast<uint64_t>(*terms.timeInForce) - 1;
  }
};

// One side of a trade.
struct TradeEvent {
  std::optional<std::string> id;       // the tag of the order that produced the event
  std::optional<std::string> comment;  // reserved: the engine leaves it absent
  // Bar on which the order counts as placed: the fill bar minus one when orders fill at the open
  // (so -1 for a fill at the open of bar 0), the fill bar itself when they fill at the close.
  int64_t orderBarIndex = 0;
  uint64_t fillBarIndex = 0;
  double price = 0;
  // When the fill happened: the fill bar's open time when orders fill at the open, its close
  // time when they fill at the close; absent when the bar has no such time.
  std::optional<DateTime> time;
};

// Long for sizes >= 0 (0 included), Short otherwise (NaN included).
enum class TradeDirection : int8_t { Long = 1, Short = -1 };

inline TradeDirection directionOf(double x) { return x >= 0 ? TradeDirection::Long : TradeDirection::Short; }

struct Trade {
  std::optional<TradeEvent> entry;
  std::optional<TradeEvent> exit;
  double size = 0;  // signed: positive long, negative short
  // While open: (mark - entry price) × size at the last marking; once closed:
  // (exit price - entry price) × size; both less the commission charged to the trade.
  double pnl = 0;
  uint64_t id = 0;  // opening order, from 0; the closed part of a partial close keeps it
  // The commissions charged to the trade: its share of the entry fill, and of the exit fill once
  // closed (a partial close takes its share of the entry's along).
  double commission = 0;
  // The highest and lowest prices seen while the trade was open, its entry and exit included.
  double highest = kNaN;
  double lowest = kNaN;

  bool isActive() const { return entry.has_value() && !exit.has_value(); }
  bool isClosed() const { return exit.has_value(); }
  TradeDirection direction() const { return directionOf(size); }
};

struct TradeError {
  // In this order.
  enum class Kind : uint8_t { NotEntered, NotActive, Closed, AlreadyEntered, AlreadyClosed, InvalidTradeSize };
  Kind kind = Kind::NotActive;
  double size = 0;  // the offending size of InvalidTradeSize

  static TradeError notActive() { return {Kind::NotActive, 0}; }
  static TradeError invalidTradeSize(double size) { return {Kind::InvalidTradeSize, size}; }

  // "NotActive", "InvalidTradeSize(NaN)".
  std::string debug() const;
  // The error value a failed operation reports: "Trade error: InvalidTradeSize(NaN)".
  Error toError() const;
};

}  // namespace bw
