// The backtest engine: simulates a strategy on one shared bar context. It is advanced bar by bar
// (by JavaScript or by the script runtime, which calls the two bar hooks around every step of a
// script); between the hooks the strategy hands it signals, each of which becomes at most one
// order that the next processing pass fills, at the open or at the close of a bar. It keeps an
// equity curve and a realised-equity curve with one entry per bar and computes its figures on
// demand. Open trades are never closed at the end of the data: they stay open, valued at the last
// mark price.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bar_ctx.h"
#include "core/borrow.h"
#include "core/error.h"
#include "core/fill.h"
#include "core/ledger.h"
#include "core/orderbook.h"
#include "core/signal.h"
#include "core/trade.h"
#include "core/trade_table.h"

namespace bw {

struct SignalPlan;  // core/signal_run.h

struct BacktestOptions {
  double initialCapital = 1000;
  bool processOrdersOnClose = false;
  double riskFreeRate = 0;                    // NaN is replaced by 0
  std::optional<double> annualizationFactor;  // absent or NaN: from the series' timeframe
  Costs costs;                                // none by default
};

class Backtest {
 public:
  static constexpr const char* kCellName = "Backtest";

  // Refused, in this order: a symbol whose min_qty or min_tick is NaN; a timeframe without a fixed
  // length when the annualization factor has to be computed ("Unknown timeframe"); a min_qty not
  // greater than 0; a min_qty or min_tick that gives no usable grid; a negative or non-finite cost.
  static Result<Backtest> create(SharedCtx ctx, BacktestOptions options);

  // ---- Driving -------------------------------------------------------------------------------

  // Appends NaN to both equity lists, refreshes the mark price from the current bar and, when
  // orders fill at the open, runs the processing pass (which writes those newest entries). A pass
  // on a bar without the fill price (its open, or its close in close mode) fills nothing: the
  // orders stay queued for the next pass.
  Result<Unit> onBarOpen();
  // Refreshes the prices and, when orders fill at the close, runs the processing pass.
  Result<Unit> onBarClose();
  // Advances the context and runs the bar-open hook only: the new bar index, or nothing at the end.
  Result<std::optional<uint64_t>> advanceAndOpen();
  // One whole bar: advance, bar-open hook, bar-close hook. The new bar index, or nothing at the end.
  Result<std::optional<uint64_t>> step();
  // Runs whole bars (as `step`) until the context is initialised and at the skip's target, the
  // same target a context skip moves to (clamped to the last bar), stopping early at the end of
  // the series. A target at or before the current bar runs nothing.
  Result<Unit> skip(const CtxSkip& s);
  Result<Unit> runUntil(uint64_t target);
  // Takes every pending order whose id (the signal's id) is `id` off the queue; an error naming
  // the id when there is none.
  Result<Unit> cancel(std::string_view id);
  // Copies of the orders waiting for a pass, oldest first.
  std::vector<Order> pendingOrders() const;
  // Turns a signal into at most one queued order. An EquityPct signal queues nothing until a real
  // mark price has been seen.
  Result<Unit> signal(const Signal& s);

  // ---- Configuration and state ---------------------------------------------------------------

  const SharedCtx& ctx() const { return ctx_; }
  double initialCapital() const { return initialCapital_; }
  bool processOrdersOnClose() const { return fill_.onClose(); }
  double riskFreeRate() const { return riskFreeRate_; }
  double annualizationFactor() const { return annualization_; }
  // The last real close rounded to the tick (a bar without a close keeps the one before); NaN
  // until a bar with a close has been seen.
  double markPrice() const { return markPrice_; }
  Result<uint64_t> length() const;

  const OrderBook& orderBook() const { return orders_; }
  const Ledger& ledger() const { return ledger_; }
  const std::vector<double>& equityList() const { return equity_; }
  const std::vector<double>& netEquityList() const { return netEquity_.list(); }

  // ---- Figures (computed on demand; none is cached) -------------------------------------------

  // The newest equity entry, or the initial capital before the first bar (NaN while the newest
  // entry waits for its processing pass).
  double equity() const { return equity_.empty() ? initialCapital_ : equity_.back(); }
  double netEquity() const { return netEquity_.empty() ? initialCapital_ : netEquity_.back(); }
  // Simple returns of the equity list, oldest first.
  std::vector<double> returnsList() const;
  // The pnl of every closed trade, in closing order.
  std::vector<double> pnlList() const;
  // The trade table: open trades first, then closed ones (the order of `trades`).
  std::vector<TradeRow> tradeRows() const;

  double positionSize() const { return ledger_.positionSize(); }
  double netProfit() const { return ledger_.netProfit(); }
  double grossProfit() const { return ledger_.grossProfit(); }
  double grossLoss() const { return ledger_.grossLoss(); }
  double openProfit() const { return ledger_.openProfit(); }
  double commissionPaid() const { return ledger_.commissionPaid(); }
  const Costs& costs() const { return fill_.costs(); }
  uint64_t winningTradesCount() const { return ledger_.winningTrades(); }
  uint64_t losingTradesCount() const { return ledger_.losingTrades(); }
  uint64_t closedTradesCount() const { return ledger_.closed().size(); }
  uint64_t openTradesCount() const { return ledger_.open().size(); }

  // Fractions of the initial capital, not percentages.
  double netProfitPct() const;
  double grossProfitPct() const;
  double grossLossPct() const;
  double avgTrade() const;         // per closed trade; NaN with none
  double avgWinningTrade() const;  // NaN with no winner
  double avgLosingTrade() const;   // a positive number; NaN with no loser
  double avgWinLossRatio() const;  // NaN when the average loss is 0
  double profitFactor() const;     // NaN when the gross loss is 0
  double winRate() const;          // winners over closed and open trades; NaN with no trade at all

  // The per-bar Sharpe and Sortino ratios of the equity returns multiplied by the annualization
  // factor itself (not by its square root), with the risk-free rate taken per bar.
  double sharpeRatio() const;
  double sortinoRatio() const;
  // The same per-bar ratios annualised the conventional way, by the square root of the factor.
  double annualizedSharpeRatio() const;
  double annualizedSortinoRatio() const;
  // The expectancy metric over the pnl of the closed trades.
  double expectancy() const;

  // The largest fall of the equity list from a running peak, located by bar index.
  struct DrawdownFigures {
    double amount = 0;    // in money; 0 when equity never fell
    double fraction = 0;  // of the peak it fell from
    // Bars from the peak to the first bar back at or above it, or to the last bar when equity
    // has not recovered; 0 when equity never fell.
    uint64_t durationBars = 0;
    std::optional<uint64_t> peakBarIndex;
    std::optional<uint64_t> troughBarIndex;
  };
  DrawdownFigures maxDrawdown() const;
  // Compound annual growth of equity over the bars run: (equity / initial capital) ^ (A / bars) - 1
  // with A the annualization factor; NaN before the first bar.
  double cagr() const;
  // Fraction of the bars run with a position held through the bar (after the fills at its open in
  // open mode, before the fills at its close in close mode); NaN before the first bar.
  double exposurePct() const;
  // Buying at the first open seen and holding to the last mark: last mark / first open - 1.
  double buyAndHoldReturnPct() const;
  // Mean of the closed trades' bars from entry fill to exit fill; NaN with none.
  double avgTradeDuration() const;
  // The best closed pnl above 0, and the worst below or at 0 as a positive number; NaN with none.
  double largestWinningTrade() const;
  double largestLosingTrade() const;

  // The closed trades of one direction.
  struct SideFigures {
    uint64_t closedTrades = 0;
    uint64_t winningTrades = 0;
    uint64_t losingTrades = 0;
    double netProfit = 0;
    double grossProfit = 0;
    double grossLoss = 0;  // positive
  };
  SideFigures sideFigures(TradeDirection side) const;

  // Every figure at once.
  struct Summary {
    double initialCapital, equity, netEquity, netProfit, netProfitPct, grossProfit, grossLoss, commissionPaid,
        openProfit, positionSize;
    uint64_t closedTrades, openTrades, winningTrades, losingTrades;
    double winRate, avgTrade, avgWinningTrade, avgLosingTrade, avgWinLossRatio, profitFactor, expectancy,
        largestWinningTrade, largestLosingTrade, avgTradeDuration;
    DrawdownFigures drawdown;
    double cagr, exposurePct, buyAndHoldReturnPct, sharpeRatio, sortinoRatio, annualizedSharpeRatio,
        annualizedSortinoRatio;
    SideFigures longs, shorts;
  };
  Summary summary() const;

 private:
  Backtest(SharedCtx ctx, const BacktestOptions& options, double annualization, QtyGrid grid, double minTick);

  struct BarPoint {
    uint64_t index;
    OhlcvBar bar;
  };
  // What one processing pass decided: the newest entries of the two equity lists.
  struct PassOutcome {
    double equity;
    double netEquity;
  };
  // The exits attached to one open trade, as absolute prices.
  struct ExitPlan {
    uint64_t tradeId;
    std::optional<std::string> tag;  // the entry order's, written on the exit
    double side;                     // +1 long, -1 short
    double stopLoss;                 // NaN when absent
    double takeProfit;
    std::optional<TrailingStop> trail;
    double best;                     // the best price since entry, which the trail follows
    uint64_t entryBar;
  };
  Result<BarPoint> currentBar() const;
  Result<Unit> fillOrder(Order& order, double raw, const BarPoint& at, bool rangeFromOpen);
  Result<Unit> fillMarketOrders(const BarPoint& at);
  Result<Unit> fillRestingOrders(const BarPoint& at);
  ExitLevels levelsOf(const ExitPlan& p) const;
  // Whether the plan's trade is gone: exited on this bar (from `start`), or closed before.
  Result<bool> tryExit(ExitPlan& p, const BarPoint& at, double start, bool targetLive);
  Result<Unit> runExits(const BarPoint& at);
  // The two scalings of a Sharpe or Sortino base (a ratio of the per-bar returns): the one of
  // sharpeRatio()/sortinoRatio() and the annualised one.
  double perPeriodRatio(double base) const { return base * annualization_; }
  double annualizedRatio(double base) const { return base * std::sqrt(annualization_); }
  void refreshMark(const OhlcvBar& bar) {
    // A bar without a close keeps the last real mark: open trades are not valued at a missing price.
    if (const double mark = fill_.markPrice(bar); !std::isnan(mark)) markPrice_ = mark;
  }
  Result<PassOutcome> processingPass(const BarPoint& at);
  Result<Unit> runPass(const BarPoint& at);
  Result<Unit> openHook(const BarPoint& at);
  Result<Unit> closeHook(const BarPoint& at);

  // The whole of one bar that the context has just moved to (the bar-open and the bar-close
  // hooks), from the series' own storage: what `step` does after its advance, with the pass cut
  // down to carrying and valuing the position when nothing is queued and no exit is watched.
  Result<Unit> runBar(uint64_t index, const OhlcvBar& bar);
  // The bar with orders queued or exits watched: the whole pass, as the hooks run it.
  [[gnu::noinline]] Result<Unit> busyBar(uint64_t index, const OhlcvBar& bar);
  // The bar's entries as a failed pass leaves them; returns the error.
  [[gnu::noinline]] Error failedBar(uint64_t index, Error e);
  // `signal` with the context's current bar index given (`current`) rather than read from the
  // context, for a caller that holds the context borrowed; absent: read it when needed.
  Result<Unit> signalOn(const Signal& s, std::optional<uint64_t> current);
  // The bar's entries in the equity lists, NaN until its pass writes them.
  void openEntry(uint64_t index) {
    equity_.push_back(kNaN);
    netEquity_.push(kNaN);
    equityBars_.push(index);
  }
  // Room in the per-bar lists for `bars` more bars.
  void reserveBars(uint64_t bars);
  // Turns the close a flat bar left unrounded into the mark price, as its own refresh would have.
  void settleMark() {
    if (std::isnan(pendingClose_)) return;
    if (const double mark = fill_.fillPrice(pendingClose_, 0); !std::isnan(mark)) markPrice_ = mark;
    pendingClose_ = kNaN;
  }
  friend Result<uint64_t> runSignals(Backtest& bt, const SignalPlan& plan);

  SharedCtx ctx_;
  double initialCapital_;
  double riskFreeRate_;
  double annualization_;
  double minTick_;
  FillModel fill_;
  OrderBook orders_;
  Ledger ledger_;
  std::vector<double> equity_;
  // A list of numbers that mostly repeat, kept as runs of (bit for bit) equal entries and written
  // out when read whole: realised equity changes only when a trade closes, so a list would take 8
  // bytes a bar for a few runs.
  class RunList {
   public:
    bool empty() const { return count_ == 0; }
    double back() const { return runs_.back().value; }
    void push(double v) {
      if (runs_.empty() || !same(runs_.back().value, v)) runs_.push_back({count_, v});
      ++count_;
      stale_ = true;
    }
    // Replaces the last entry.
    void setBack(double v);
    // Every entry, oldest first; valid until the next change.
    const std::vector<double>& list() const;

   private:
    static bool same(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }
    struct Run {
      uint64_t start;  // its first entry
      double value;
    };
    std::vector<Run> runs_;
    uint64_t count_ = 0;
    mutable std::vector<double> list_;
    mutable bool stale_ = false;
  };
  RunList netEquity_;
  // The bar index of each equity entry, as runs of consecutive bars: a backtest stepped bar by
  // bar keeps one run, where a list would take 8 bytes a bar.
  class EntryBars {
   public:
    void push(uint64_t bar) {
      if (runs_.empty() || runs_.back().bar + (count_ - runs_.back().entry) != bar) runs_.push_back({count_, bar});
      ++count_;
    }
    uint64_t size() const { return count_; }
    // The bar of entry k < size().
    uint64_t operator[](uint64_t k) const;

   private:
    struct Run {
      uint64_t entry;  // its first entry
      uint64_t bar;    // the bar of that entry
    };
    std::vector<Run> runs_;
    uint64_t count_ = 0;
  };
  EntryBars equityBars_;
  std::vector<ExitPlan> exits_;       // of open trades, in opening order
  uint64_t exposedBars_ = 0;
  double firstOpen_ = kNaN;
  double markPrice_ = kNaN;
  // The last real close of the flat bars a bar loop ran since the mark was last refreshed: with
  // no trade open nothing is valued, so the rounding waits until the mark is read (NaN: none).
  // Only the bar loop leaves it set, and it settles it before it returns.
  double pendingClose_ = kNaN;
  double lastEquityFraction_ = 0;
};

inline Result<Unit> Backtest::runBar(uint64_t index, const OhlcvBar& bar) {
  // The two hooks of one bar, in one: the mark is refreshed once (the close hook would refresh it
  // from the same bar to the same value) and the pass runs once, at the open or at the close.
  if (std::isnan(firstOpen_)) firstOpen_ = fill_.fillPrice(bar.open, 0);
  if (!orders_.idle() || !exits_.empty()) return busyBar(index, bar);
  // Nothing to fill and nothing to exit: the pass carries the position through the bar (held
  // through all of it, in either fill mode) and values it.
  double openProfit = 0;
  if (ledger_.open().empty()) {
    // Flat: nothing is valued, so the mark waits.
    if (std::isfinite(bar.close)) pendingClose_ = bar.close;
    ledger_.markFlat();
  } else {
    settleMark();
    refreshMark(bar);
    ledger_.see(bar.high, bar.low);
    ++exposedBars_;
    if (!ledger_.markOpen(markPrice_, openProfit)) return failedBar(index, TradeError::notActive().toError());
  }
  const double realised = initialCapital_ + ledger_.netProfit();
  equity_.push_back(realised + openProfit);
  netEquity_.push(realised);
  equityBars_.push(index);
  return Unit{};
}

// The shared cell a NodeBacktest wraps: indicators and the script runtime may hold the same
// backtest. Beside it, a second handle on the bar context, readable without borrowing the
// backtest.
class SharedBacktest : public SharedCell<Backtest> {
 public:
  explicit SharedBacktest(Backtest bt) : SharedCell(std::move(bt)), ctx_(unshared().ctx()) {}

  const SharedCtx& ctx() const { return ctx_; }

 private:
  SharedCtx ctx_;
};

}  // namespace bw
