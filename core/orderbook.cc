#include "core/orderbook.h"

#include <cmath>

namespace bw {

namespace {

// 1 for +0 and positive, -1 for -0 and negative, NaN for NaN.
double signum(double x) { return std::isnan(x) ? x : std::copysign(1.0, x); }

TradeEvent eventAt(const OrderBook& orders, const FillPoint& at, const std::optional<std::string>& tag) {
  TradeEvent e;
  e.id = tag;
  e.orderBarIndex = at.onClose ? static_cast<int64_t>(at.barIndex) : static_cast<int64_t>(at.barIndex - 1);
  e.fillBarIndex = at.barIndex;
  e.price = orders.fillPrice;
  return e;
}

}  // namespace

OrderBook::OrderBook(double minQty) : minQty_(minQty), qtyScale_(std::round(1.0 / minQty)) {}

uint64_t OrderBook::queue(OrderConfig request) {
  const double size = roundContracts(request.size, minQty_, qtyScale_);
  const uint64_t id = nextId_++;
  orders_.push_back(Order{id, size, std::move(request.tag)});
  queue_.push_back(id);
  return id;
}

std::optional<Order> OrderBook::take() {
  if (queue_.empty()) return std::nullopt;
  const uint64_t id = queue_.front();
  queue_.pop_front();
  return orders_[id];
}

std::optional<TradeError> openTrade(TradeBook& trades, const OrderBook& orders, const FillPoint& at,
                                    const std::optional<std::string>& tag, double size) {
  if (std::isnan(size)) return TradeError::invalidTradeSize(size);
  if (!trades.firstEntryBarIndex) trades.firstEntryBarIndex = at.barIndex;
  Trade t;
  t.entry = eventAt(orders, at, tag);
  t.size = size;
  t.pnl = kNaN;  // the marking of the same pass values it
  trades.positionSize = roundContracts(trades.positionSize + size, orders.minQty(), orders.qtyScale());
  trades.open.push_back(std::move(t));
  return std::nullopt;
}

std::optional<TradeError> closeTrade(TradeBook& trades, const OrderBook& orders, const FillPoint& at, Trade t,
                                     const std::optional<std::string>& tag) {
  if (!t.isActive()) return TradeError::notActive();
  const double pnl = (orders.fillPrice - t.entry->price) * t.size;
  t.pnl = pnl;
  t.exit = eventAt(orders, at, tag);
  trades.netProfit += pnl;
  if (pnl > 0) {
    ++trades.winningTrades;
    trades.grossProfit += pnl;
  } else {
    ++trades.losingTrades;
    trades.grossLoss += std::fabs(pnl);
  }
  trades.positionSize = roundContracts(trades.positionSize - t.size, orders.minQty(), orders.qtyScale());
  trades.closed.push_back(std::move(t));
  return std::nullopt;
}

std::optional<TradeError> processOrders(OrderBook& orders, TradeBook& trades, const PassInputs& in,
                                        std::vector<double>& equity, std::vector<double>& netEquity) {
  while (auto order = orders.take()) {
    double remaining = order->size;
    // Net against open trades of the other direction, oldest first. Open trades never mix
    // directions (an order opens a trade only after consuming every opposite one), so in practice
    // this works from the front.
    size_t i = 0;
    while (remaining != 0 && i < trades.open.size()) {
      Trade& t = trades.open[i];
      if (signum(t.size) == signum(remaining)) {
        ++i;
      } else if (std::fabs(remaining) >= std::fabs(t.size)) {
        Trade whole = std::move(t);
        trades.open.erase(trades.open.begin() + static_cast<std::ptrdiff_t>(i));
        remaining += whole.size;
        if (auto e = closeTrade(trades, orders, in.at, std::move(whole), order->tag)) return e;
      } else {
        // A partial close: the trade stays open with its entry, a closed copy takes the part.
        const double newSize = remaining + t.size;
        if (std::isnan(newSize)) return TradeError::invalidTradeSize(newSize);
        t.size = newSize;
        Trade part = t;
        part.size = std::copysign(std::fabs(remaining), newSize);
        remaining = 0;
        if (auto e = closeTrade(trades, orders, in.at, std::move(part), order->tag)) return e;
      }
    }
    if (std::fabs(remaining) >= orders.minQty())
      if (auto e = openTrade(trades, orders, in.at, order->tag, remaining)) return e;
  }

  const double realised = in.initialCapital + trades.netProfit;
  double sum = 0;
  for (Trade& t : trades.open) {
    if (!t.isActive()) return TradeError::notActive();
    t.pnl = (in.markPrice - t.entry->price) * t.size;
    sum += t.pnl;
  }
  if (!equity.empty()) equity.back() = realised + sum;
  if (!netEquity.empty()) netEquity.back() = realised;
  trades.openProfit = sum;
  return std::nullopt;
}

}  // namespace bw
