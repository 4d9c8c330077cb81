#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/backtest.h"

using namespace bw;

namespace {

// Bar i opens at 100 + i and closes at 100.5 + i, falling to 90 on bar 4; ticks of 0.01.
Backtest closeMode() {
  Ohlcv data;
  data.timeframe = Timeframe::of(TimeUnit::Days, 1);
  for (int i = 0; i < 6; ++i) {
    OhlcvBar b;
    b.open = 100 + i;
    b.close = i == 4 ? 90 : 100.5 + i;
    b.high = b.close + 1;
    b.low = std::fmin(b.open, b.close) - 1;
    b.volume = 1;
    data.bars.push_back(b);
  }
  Sym sym;
  sym.minTick = 0.01;
  sym.minQty = 0.001;
  sym.kind.tag = SymKind::Tag::Stock;
  BacktestOptions o;
  o.processOrdersOnClose = true;
  auto bt = Backtest::create(SharedCtx(Ctx{sym, ArcOhlcv(std::move(data)), 0, false}), o);
  EXPECT_TRUE(bt.ok());
  return std::move(bt).value();
}

Signal sized(double x) { return Signal{SignalKind::size(x), std::nullopt, std::nullopt, {}}; }

// Entry by entry, NaN matching NaN.
void expectList(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_TRUE(std::isnan(want[i]) ? std::isnan(got[i]) : got[i] == want[i]) << "entry " << i << ": " << got[i];
}

// Both equity lists entry by entry, read between the hooks (an entry waits as NaN for its pass)
// and again after later bars changed them; the drawdown located by bar index.
TEST(BacktestLists, EntriesWaitForTheirPassAndStayAsWritten) {
  Backtest bt = closeMode();
  ASSERT_TRUE(bt.step().ok());  // bar 0
  ASSERT_TRUE(bt.signal(sized(2)).ok());
  ASSERT_TRUE(bt.advanceAndOpen().ok());  // bar 1, its pass not run yet
  expectList(bt.netEquityList(), {1000, NAN});
  ASSERT_TRUE(bt.onBarClose().ok());  // long 2 at 101.5
  expectList(bt.netEquityList(), {1000, 1000});
  expectList(bt.equityList(), {1000, 1000});
  ASSERT_TRUE(bt.signal(sized(-2)).ok());
  ASSERT_TRUE(bt.step().ok());  // bar 2: closed at 102.5, +2
  ASSERT_TRUE(bt.signal(sized(-1)).ok());
  ASSERT_TRUE(bt.step().ok());  // bar 3: short 1 at 103.5
  ASSERT_TRUE(bt.step().ok());  // bar 4: marked at 90, +13.5
  ASSERT_TRUE(bt.signal(sized(1)).ok());
  ASSERT_TRUE(bt.step().ok());  // bar 5: closed at 105.5, -2
  expectList(bt.netEquityList(), {1000, 1000, 1002, 1002, 1002, 1000});
  expectList(bt.equityList(), {1000, 1000, 1002, 1002, 1015.5, 1000});
  EXPECT_EQ(bt.netEquity(), 1000);
  const auto d = bt.maxDrawdown();
  EXPECT_EQ(d.peakBarIndex, 4u);
  EXPECT_EQ(d.troughBarIndex, 5u);
  EXPECT_DOUBLE_EQ(d.amount, 15.5);
}

}  // namespace
