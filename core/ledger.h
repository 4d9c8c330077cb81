// The ledger: the open and closed trades, the position and the realised statistics. A fill nets
// against open trades of the other direction, oldest first, and opens a trade with what remains;
// a marking values the open trades at one price. Prices come from the fill model; the ledger
// takes them as given.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "core/error.h"
#include "core/trade.h"

namespace bw {

// Where and at what price one order fills.
struct FillAt {
  uint64_t barIndex = 0;  // the context's current bar
  bool onClose = false;   // orders fill at the close (else at the open) of the bar
  double price = kNaN;
  std::optional<DateTime> time;  // of the fill, as the trade events record it
};

// The event a fill writes on a trade. An order filled at the open counts as placed on the bar
// before (so -1 for a fill at the open of bar 0); one filled at the close, on the fill bar.
TradeEvent fillEvent(const FillAt& at, const std::optional<std::string>& tag);

// Closes t at the fill: its pnl becomes (fill price - entry price) × size less its commission,
// and it gets its exit event. NotActive when t has no entry or already has an exit.
Result<Unit> closeAt(Trade& t, const FillAt& at, const std::optional<std::string>& tag);

// Values each open trade at `mark`, oldest first, and returns the sum of their pnl. A NaN mark
// (no real price seen yet) values each trade at its own entry price. NotActive for a trade
// without entry or with an exit.
Result<double> markTrades(std::deque<Trade>& open, double mark);

class Ledger {
 public:
  explicit Ledger(QtyGrid grid) : grid_(grid) {}

  // How much of an order of `size` would fill now: what it closes of the opposite trades, plus
  // the remainder when that reaches the minimum quantity. NaN for a NaN size.
  double fillableQuantity(double size) const;
  // Fills an order of `size` (on the grid) at the fill, paying `commission` for it: each closed
  // part and the opened remainder take their share by quantity. A trade error ends it at once,
  // leaving what was already done.
  // The id of the trade it opened, if any.
  Result<std::optional<uint64_t>> fill(double size, const std::optional<std::string>& tag, const FillAt& at,
                                       double commission = 0);
  // Closes the whole of the open trade `tradeId` at the fill, paying `commission`; its exit event
  // carries `tag` and `comment` (which exit closed it). NotActive when no open trade has the id.
  Result<Unit> exit(uint64_t tradeId, const std::optional<std::string>& tag, std::string comment, const FillAt& at,
                    double commission);
  // The open trade with that id, or null.
  const Trade* openTrade(uint64_t tradeId) const;
  // Widens the price range seen by every open trade.
  void see(double high, double low);
  // Values the open trades at `mark` (see markTrades); the open profit is their sum.
  Result<double> mark(double mark);
  // The same marking for a caller on the bar loop: the open profit in `profit`, false (and the
  // open profit left as it was) on a trade without entry or with an exit.
  bool markOpen(double mark, double& profit) {
    double sum = 0;
    for (Trade& t : open_) {
      if (!t.isActive()) return false;
      const double at = std::isnan(mark) ? t.entry->price : mark;
      t.pnl = (at - t.entry->price) * t.size - t.commission;
      sum += t.pnl;
    }
    profit = openProfit_ = sum;
    return true;
  }
  // The marking with no open trade.
  void markFlat() { openProfit_ = 0; }

  const std::deque<Trade>& open() const { return open_; }      // in opening order
  const std::deque<Trade>& closed() const { return closed_; }  // in closing order
  double positionSize() const { return positionSize_; }        // signed, on the grid
  double netProfit() const { return netProfit_; }
  double grossProfit() const { return grossProfit_; }
  double grossLoss() const { return grossLoss_; }  // a positive number
  uint64_t winningTrades() const { return winningTrades_; }  // closed with pnl > 0
  uint64_t losingTrades() const { return losingTrades_; }    // closed with pnl <= 0, NaN included
  double openProfit() const { return openProfit_; }          // at the last marking
  double commissionPaid() const { return commissionPaid_; }  // by every fill so far
  std::optional<uint64_t> firstEntryBarIndex() const { return firstEntryBarIndex_; }
  // Open and closed trades by direction (a partly closed trade counts once open and once closed).
  uint64_t openLongs() const { return openLongs_; }
  uint64_t openShorts() const { return open_.size() - openLongs_; }
  uint64_t closedLongs() const { return closedLongs_; }
  uint64_t closedShorts() const { return closed_.size() - closedLongs_; }

 private:
  Result<uint64_t> openNew(double size, const std::optional<std::string>& tag, const FillAt& at, double commission);
  Result<Unit> closeTrade(Trade t, const std::optional<std::string>& tag, const FillAt& at);

  QtyGrid grid_;
  std::deque<Trade> open_;
  std::deque<Trade> closed_;
  double positionSize_ = 0;
  double netProfit_ = 0;
  double grossProfit_ = 0;
  double grossLoss_ = 0;
  uint64_t winningTrades_ = 0;
  uint64_t losingTrades_ = 0;
  double openProfit_ = 0;
  std::optional<uint64_t> firstEntryBarIndex_;
  uint64_t openLongs_ = 0;
  uint64_t closedLongs_ = 0;
  uint64_t nextTradeId_ = 0;
  double commissionPaid_ = 0;
};

}  // namespace bw
