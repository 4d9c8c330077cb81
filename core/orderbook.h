// Order execution: the order book queues orders in arrival order; the trade book holds the open
// and closed trades, the position and the realised statistics. Once per bar the engine runs the
// processing pass, which fills every queued order at one price, nets it against open trades of
// the opposite direction oldest first, opens a trade with what remains, then values the open
// trades at the mark price and writes the newest equity entries.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/ohlcv.h"
#include "core/sym.h"
#include "core/trade.h"

namespace bw {

class OrderBook {
 public:
  explicit OrderBook(double minQty);

  // Rounds the size onto the quantity grid (roundContracts), gives the order
  // the next id and queues it. Nothing is filled until the next processing pass.
  uint64_t queue(OrderConfig request);
  // The oldest unprocessed order, taken off the queue.
  std::optional<Order> take();

  size_t pending() const { return queue_.size(); }
  uint64_t nextId() const { return nextId_; }
  // Every order ever queued, by id; entries stay after processing.
  const std::vector<Order>& orders() const { return orders_; }
  double minQty() const { return minQty_; }
  double qtyScale() const { return qtyScale_; }

  double fillPrice = kNaN;  // set by every price refresh of the engine

 private:
  std::deque<uint64_t> queue_;
  std::vector<Order> orders_;  // orders_[id].id == id
  uint64_t nextId_ = 0;
  double minQty_;
  double qtyScale_;
};

struct TradeBook {
  std::deque<Trade> open;    // active trades, in opening order
  std::deque<Trade> closed;  // in closing order
  double positionSize = 0;   // signed, kept on the quantity grid
  double netProfit = 0;
  double grossProfit = 0;
  double grossLoss = 0;  // a positive number
  uint64_t winningTrades = 0;  // closed with pnl > 0
  uint64_t losingTrades = 0;   // closed with pnl <= 0, NaN included
  double openProfit = 0;       // at the last marking
  std::optional<uint64_t> firstEntryBarIndex;
  // Held and reported, never changed by any operation.
  uint64_t openLongs = 0, openShorts = 0, closedLongs = 0, closedShorts = 0;
};

// Where and how a pass fills.
struct FillPoint {
  uint64_t barIndex = 0;  // the context's current bar
  bool onClose = false;   // orders fill at the close (else at the open) of the bar
};

// Opens a trade with size s at the book's fill price. Fails with InvalidTradeSize for a NaN s.
std::optional<TradeError> openTrade(TradeBook& trades, const OrderBook& orders, const FillPoint& at,
                                    const std::optional<std::string>& tag, double size);
// Closes t at the book's fill price and files it among the closed trades. Fails with NotActive
// when t has no entry or already has an exit.
std::optional<TradeError> closeTrade(TradeBook& trades, const OrderBook& orders, const FillPoint& at, Trade t,
                                     const std::optional<std::string>& tag);

struct PassInputs {
  FillPoint at;
  double markPrice = kNaN;
  double initialCapital = 0;
};

// The processing pass. A trade error ends it at once; orders already taken off the queue in this
// pass are not put back.
std::optional<TradeError> processOrders(OrderBook& orders, TradeBook& trades, const PassInputs& in,
                                        std::vector<double>& equity, std::vector<double>& netEquity);

}  // namespace bw
