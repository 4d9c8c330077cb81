#include "core/backtest.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace bw;

namespace {

// Bar i opens at 100 + i and closes at 100.5 + i; a stock on daily bars, ticks of 0.01 and
// quantities on a grid of 0.001.
SharedCtx series(size_t n, Sym sym = {}) {
  Ohlcv data;
  data.timeframe = Timeframe::of(TimeUnit::Days, 1);
  for (size_t i = 0; i < n; ++i) {
    OhlcvBar b;
    b.open = 100 + static_cast<double>(i);
    b.close = 100.5 + static_cast<double>(i);
    b.high = b.close + 1;
    b.low = b.open - 1;
    b.volume = 1;
    data.bars.push_back(b);
  }
  if (std::isnan(sym.minTick)) {
    sym.minTick = 0.01;
    sym.minQty = 0.001;
    sym.kind.tag = SymKind::Tag::Stock;
  }
  return SharedCtx(Ctx{sym, ArcOhlcv(std::move(data)), 0, false});
}

Backtest make(SharedCtx ctx, bool onClose = false) {
  BacktestOptions o;
  o.processOrdersOnClose = onClose;
  auto bt = Backtest::create(std::move(ctx), o);
  EXPECT_TRUE(bt.ok());
  return std::move(bt).value();
}

Signal size(double x, const char* id = nullptr) {
  return Signal{SignalKind::size(x), id ? std::optional<std::string>(id) : std::nullopt, std::nullopt, {}};
}
Signal pct(double x) { return Signal{SignalKind::equityPct(x), std::nullopt, std::nullopt, {}}; }

}  // namespace

TEST(Backtest, ConstructionChecksInOrder) {
  struct Case {
    double minQty, minTick;
    TimeUnit unit;
    const char* message;
  } cases[] = {
      {NAN, 0.01, TimeUnit::Ticks, "Ctx Symbol is not suitable for backtesting, min_qty is NaN or min_tick is NaN"},
      {0.001, NAN, TimeUnit::Days, "Ctx Symbol is not suitable for backtesting, min_qty is NaN or min_tick is NaN"},
      {0, 0.01, TimeUnit::Ticks, "Unknown timeframe"},
      {0, 0.01, TimeUnit::Days, "min_qty must be greater than 0.0"},
      {-1, 0.01, TimeUnit::Days, "min_qty must be greater than 0.0"},
      {3, 0.01, TimeUnit::Days,
       "min_qty must give a quantity grid: round(1 / min_qty) must be a positive finite number"},
      {0.001, 0, TimeUnit::Days, "min_tick must be a positive finite number"},
  };
  for (const auto& c : cases) {
    Sym sym;
    sym.minQty = c.minQty;
    sym.minTick = c.minTick;
    Ohlcv data;
    data.timeframe = Timeframe::of(c.unit, 1);
    auto bt = Backtest::create(SharedCtx(Ctx{sym, ArcOhlcv(data), 0, false}), {});
    ASSERT_FALSE(bt.ok()) << c.message;
    EXPECT_EQ(bt.error().reason, c.message);
  }
  // A given annualization factor skips the timeframe check; a NaN one does not.
  Sym sym;
  sym.minQty = 1;
  sym.minTick = 1;
  BacktestOptions o;
  o.annualizationFactor = 12;
  EXPECT_TRUE(Backtest::create(SharedCtx(Ctx{sym, ArcOhlcv(), 0, false}), o).ok());
  o.annualizationFactor = NAN;
  EXPECT_FALSE(Backtest::create(SharedCtx(Ctx{sym, ArcOhlcv(), 0, false}), o).ok());
  // Crypto bars count 365 days a year.
  sym.kind.tag = SymKind::Tag::Crypto;
  Ohlcv hourly;
  hourly.timeframe = Timeframe::of(TimeUnit::Hours, 1);
  auto crypto = Backtest::create(SharedCtx(Ctx{sym, ArcOhlcv(hourly), 0, false}), {});
  ASSERT_TRUE(crypto.ok());
  EXPECT_EQ(crypto->annualizationFactor(), 8760);
}

TEST(Backtest, OpenModeFillsAtTheNextOpen) {
  Backtest bt = make(series(10));
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(bt.advanceAndOpen().ok());  // bar 5, open hook only
  ASSERT_TRUE(bt.signal(size(1, "buy")).ok());
  auto moved = bt.step();
  ASSERT_TRUE(moved.ok());
  EXPECT_EQ(**moved, 6u);
  ASSERT_EQ(bt.ledger().open().size(), 1u);
  const TradeEvent& e = *bt.ledger().open()[0].entry;
  EXPECT_EQ(e.orderBarIndex, 5);
  EXPECT_EQ(e.fillBarIndex, 6u);
  EXPECT_EQ(e.price, 106);
  EXPECT_EQ(e.id, "buy");
  // Marked at the close of the same bar, written at its open.
  EXPECT_EQ(bt.openProfit(), 0.5);
  EXPECT_EQ(bt.equityList().back(), 1000.5);
  EXPECT_EQ(bt.equityList().size(), 7u);
}

TEST(Backtest, CloseModeFillsAtACloseAndLeavesNaNBetweenTheHooks) {
  // Iteration: a signal after the step of bar 5 fills at the close of bar 6.
  Backtest it = make(series(10), true);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(it.step().ok());
  ASSERT_TRUE(it.signal(size(1)).ok());
  ASSERT_TRUE(it.step().ok());
  const TradeEvent& a = *it.ledger().open()[0].entry;
  EXPECT_EQ(a.orderBarIndex, 6);
  EXPECT_EQ(a.fillBarIndex, 6u);
  EXPECT_EQ(a.price, 106.5);

  // The script flow: a signal between the hooks of bar 5 fills at the close of bar 5.
  Backtest script = make(series(10), true);
  for (uint64_t bar = 0; bar <= 5; ++bar) {
    ASSERT_TRUE(script.ctx().write([](Ctx& c) { return c.advance(); }).ok());
    ASSERT_TRUE(script.onBarOpen().ok());
    EXPECT_TRUE(std::isnan(script.equity()));
    if (bar == 5) {
      // EquityPct reads the newest equity entry, still NaN here: no order.
      ASSERT_TRUE(script.signal(pct(1)).ok());
      EXPECT_EQ(script.orderBook().nextId(), 0u);
      ASSERT_TRUE(script.signal(size(2)).ok());
    }
    ASSERT_TRUE(script.onBarClose().ok());
  }
  const TradeEvent& b = *script.ledger().open()[0].entry;
  EXPECT_EQ(b.orderBarIndex, 5);
  EXPECT_EQ(b.fillBarIndex, 5u);
  EXPECT_EQ(b.price, 105.5);
  EXPECT_EQ(script.equity(), 1000);
}

TEST(Backtest, EquityPctQueuesOncePerChange) {
  Backtest bt = make(series(10));
  ASSERT_TRUE(bt.step().ok());  // bar 0: equity 1000, mark 100.5
  ASSERT_TRUE(bt.signal(pct(1)).ok());
  ASSERT_EQ(bt.orderBook().nextId(), 1u);
  EXPECT_EQ(bt.orderBook().orders()[0].size, 9.95);  // 1000 / 100.5 = 9.9502... on the 0.001 grid
  EXPECT_EQ(bt.orderBook().orders()[0].tag, "0");    // no id: the bar index
  ASSERT_TRUE(bt.step().ok());
  ASSERT_TRUE(bt.signal(pct(1)).ok());
  ASSERT_TRUE(bt.signal(pct(1.000001)).ok());  // within 1e-5 of the last fraction
  EXPECT_EQ(bt.orderBook().nextId(), 1u);
  ASSERT_TRUE(bt.signal(Signal{SignalKind::closeAll(), std::nullopt, std::nullopt, {}}).ok());
  EXPECT_EQ(bt.orderBook().orders()[1].size, -9.95);
  ASSERT_TRUE(bt.signal(pct(1)).ok());  // the fraction was reset to 0
  EXPECT_EQ(bt.orderBook().nextId(), 3u);
  ASSERT_TRUE(bt.step().ok());
  EXPECT_EQ(bt.ledger().closed().size(), 1u);
  EXPECT_EQ(bt.ledger().open().size(), 1u);
}

TEST(Backtest, EquityPctWaitsForARealMarkPrice) {
  Backtest bt = make(series(3));
  ASSERT_TRUE(bt.signal(pct(0.5)).ok());  // no bar seen: nothing to size from
  EXPECT_EQ(bt.orderBook().nextId(), 0u);
  ASSERT_TRUE(bt.step().ok());
  ASSERT_TRUE(bt.signal(pct(0.5)).ok());
  ASSERT_EQ(bt.orderBook().nextId(), 1u);
  EXPECT_EQ(bt.orderBook().orders()[0].size, 4.975);  // 500 / 100.5 on the 0.001 grid
  ASSERT_TRUE(bt.signal(pct(0.5)).ok());  // last fraction is 0.5: no change, no order
  EXPECT_EQ(bt.orderBook().nextId(), 1u);
}

TEST(Backtest, CloseAllWithoutPositionOpensNothing) {
  Backtest bt = make(series(3));
  ASSERT_TRUE(bt.step().ok());
  ASSERT_TRUE(bt.signal(Signal{SignalKind::closeAll(), std::nullopt, std::nullopt, {}}).ok());
  ASSERT_EQ(bt.orderBook().nextId(), 1u);
  EXPECT_EQ(bt.orderBook().orders()[0].size, 0);  // -0 asked, on the grid it is 0
  ASSERT_TRUE(bt.step().ok());
  EXPECT_TRUE(bt.ledger().open().empty());
  EXPECT_TRUE(bt.ledger().closed().empty());
}

TEST(Backtest, HooksAndSkips) {
  Backtest bt = make(series(5));
  ASSERT_TRUE(bt.onBarOpen().ok());  // a fresh context reads bar 0
  ASSERT_TRUE(bt.onBarOpen().ok());
  EXPECT_EQ(bt.equityList().size(), 2u);  // two bar-open hooks on one bar: two entries

  Backtest fresh = make(series(5));
  ASSERT_TRUE(fresh.skip(CtxSkip::barIndex(0)).ok());  // runs bar 0
  EXPECT_EQ(fresh.equityList().size(), 1u);
  ASSERT_TRUE(fresh.skip(CtxSkip::bars(0)).ok());  // initialised, target reached: nothing
  EXPECT_EQ(fresh.equityList().size(), 1u);
  ASSERT_TRUE(fresh.skip(CtxSkip::barIndex(-1)).ok());  // wraps, lands on the last bar
  EXPECT_EQ(fresh.equityList().size(), 5u);
  auto end = fresh.step();
  ASSERT_TRUE(end.ok());
  EXPECT_FALSE(*end);
  EXPECT_EQ(fresh.equityList().size(), 5u);

  Backtest empty = make(series(0));
  EXPECT_FALSE(empty.onBarOpen().ok());
  EXPECT_TRUE(empty.equityList().empty());  // a refused hook appends nothing
  EXPECT_TRUE(empty.skip(CtxSkip::end()).ok());
}

TEST(Backtest, TradeErrorEndsTheHook) {
  Backtest bt = make(series(4));
  ASSERT_TRUE(bt.step().ok());
  ASSERT_TRUE(bt.signal(size(1)).ok());
  ASSERT_TRUE(bt.step().ok());
  ASSERT_TRUE(bt.signal(size(NAN)).ok());
  auto r = bt.step();
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().reason, "Trade error: InvalidTradeSize(NaN)");
}

TEST(Backtest, Figures) {
  Backtest bt = make(series(6));
  EXPECT_TRUE(std::isnan(bt.sharpeRatio()));
  EXPECT_TRUE(std::isnan(bt.winRate()));
  ASSERT_TRUE(bt.step().ok());
  ASSERT_TRUE(bt.signal(size(2, "a")).ok());
  ASSERT_TRUE(bt.step().ok());  // long 2 at 101
  EXPECT_EQ(bt.winRate(), 0);   // open trades count in the divisor
  ASSERT_TRUE(bt.signal(size(-2, "b")).ok());
  ASSERT_TRUE(bt.step().ok());  // closed at 102: +2
  ASSERT_TRUE(bt.signal(size(-1, "c")).ok());
  ASSERT_TRUE(bt.step().ok());  // short 1 at 103
  ASSERT_TRUE(bt.signal(size(1, "d")).ok());
  ASSERT_TRUE(bt.step().ok());  // closed at 104: -1
  EXPECT_EQ(bt.netProfit(), 1);
  EXPECT_EQ(bt.grossProfit(), 2);
  EXPECT_EQ(bt.grossLoss(), 1);
  EXPECT_EQ(bt.profitFactor(), 2);
  EXPECT_EQ(bt.avgTrade(), 0.5);
  EXPECT_EQ(bt.avgWinLossRatio(), 2);
  EXPECT_EQ(bt.winRate(), 0.5);
  EXPECT_EQ(bt.netProfitPct(), 0.001);
  EXPECT_EQ(bt.pnlList(), (std::vector<double>{2, -1}));
  // Returns of the equity curve: 1000, 1001, 1002, 1001.5, 1001.
  const std::vector<double> r = bt.returnsList();
  ASSERT_EQ(r.size(), 4u);
  double m = 0, v = 0;
  for (double x : r) m += x;
  m /= 4;
  for (double x : r) v += (x - m) * (x - m);
  v /= 4;
  EXPECT_NEAR(bt.sharpeRatio(), m / std::sqrt(v) * 252, 1e-9);
}
