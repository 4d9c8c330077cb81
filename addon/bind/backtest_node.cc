#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/iter.h"
#include "core/backtest.h"
#include "core/bar_index.h"

using namespace bw;
using namespace bw::js;

namespace {

// A read-only figure of the backtest, read under a shared borrow.
template <auto Member>
struct Figure {
  auto operator()(const SharedBacktest& b) const {
    return b.read([](const Backtest& t) { return (t.*Member)(); });
  }
};

// A figure of the ledger, read under a shared borrow of the backtest.
template <auto Member>
struct LedgerFigure {
  auto operator()(const SharedBacktest& b) const {
    return b.read([](const Backtest& t) { return (t.ledger().*Member)(); });
  }
};

template <auto Member>
struct TradesOf {
  Result<std::vector<Trade>> operator()(const SharedBacktest& b) const {
    return b.read([](const Backtest& t) {
      const auto& list = (t.ledger().*Member)();
      return std::vector<Trade>(list.begin(), list.end());
    });
  }
};

Result<std::optional<int32_t>> asIndex(Result<std::optional<uint64_t>> r) {
  if (!r.ok()) return std::move(r).error();
  return toInt32(*r);
}

}  // namespace

BW_REGISTER(backtest) {
  Class<SharedBacktest> c;
  c.constructor([](const SharedCtx& ctx, std::optional<double> initialCapital, std::optional<bool> onClose,
                   std::optional<double> riskFreeRate, std::optional<double> annualizationFactor)
                    -> Result<SharedBacktest> {
    BacktestOptions options;
    options.initialCapital = initialCapital.value_or(1000.0);
    options.processOrdersOnClose = onClose.value_or(false);
    options.riskFreeRate = riskFreeRate.value_or(0.0);
    options.annualizationFactor = annualizationFactor;
    BW_ASSIGN(bt, Backtest::create(ctx, options));
    return SharedBacktest(std::move(bt));
  });

  // Every instance iterates with the shared protocol; its step runs one whole bar.
  c.onInstance([](napi_env env, napi_value obj) {
    installIterator<SharedBacktest>(env, obj, [](SharedBacktest& b) {
      return asIndex(b.write([](Backtest& t) { return t.step(); }));
    });
  });

  // ---- Driving --------------------------------------------------------------------------------
  c.method("onBarOpen", [](SharedBacktest& b) { return b.write([](Backtest& t) { return t.onBarOpen(); }); });
  c.method("onBarClose", [](SharedBacktest& b) { return b.write([](Backtest& t) { return t.onBarClose(); }); });
  // The class's own `next`, hidden on every instance behind the iteration step: one bar, bar-open
  // hook only; the new bar index or null.
  c.method("next", [](SharedBacktest& b) {
    return asIndex(b.write([](Backtest& t) { return t.advanceAndOpen(); }));
  });
  c.method("skip", [](SharedBacktest& b, const CtxSkip& s) {
    return b.write([&s](Backtest& t) { return t.skip(s); });
  });
  c.method("length", [](const SharedBacktest& b) -> Result<int32_t> {
    BW_ASSIGN(n, b.read([](const Backtest& t) { return t.length(); }));
    return toInt32(n);
  });
  c.method("signal", [](SharedBacktest& b, const Signal& s) {
    return b.write([&s](Backtest& t) { return t.signal(s); });
  });

  // ---- Configuration and links ----------------------------------------------------------------
  c.getter("initialCapital", Figure<&Backtest::initialCapital>{});
  c.getter("processOrdersOnClose", Figure<&Backtest::processOrdersOnClose>{});
  c.getter("ctx", [](const SharedBacktest& b) { return b.ctx(); });
  c.getter("instrumentSize", Figure<&Backtest::markPrice>{});

  // ---- Curves ---------------------------------------------------------------------------------
  c.getter("equityList", Figure<&Backtest::equityList>{});
  c.getter("netEquityList", Figure<&Backtest::netEquityList>{});
  c.getter("equity", Figure<&Backtest::equity>{});
  c.getter("netEquity", Figure<&Backtest::netEquity>{});
  c.getter("returnsList", Figure<&Backtest::returnsList>{});
  c.getter("pnlList", Figure<&Backtest::pnlList>{});

  // ---- Trades and counters --------------------------------------------------------------------
  c.getter("openTrades", TradesOf<&Ledger::open>{});
  c.getter("closedTrades", TradesOf<&Ledger::closed>{});
  c.getter("trades", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) {
      const Ledger& book = t.ledger();
      std::vector<Trade> all(book.open().begin(), book.open().end());
      all.insert(all.end(), book.closed().begin(), book.closed().end());
      return all;
    });
  });
  c.getter("positionSize", Figure<&Backtest::positionSize>{});
  c.getter("firstEntryBarIndex", LedgerFigure<&Ledger::firstEntryBarIndex>{});
  c.method("winningTradesCount", Figure<&Backtest::winningTradesCount>{});
  c.getter("losingTradesCount", Figure<&Backtest::losingTradesCount>{});
  c.getter("openLongsCount", LedgerFigure<&Ledger::openLongs>{});
  c.getter("openShortsCount", LedgerFigure<&Ledger::openShorts>{});
  c.getter("closedLongsCount", LedgerFigure<&Ledger::closedLongs>{});
  c.getter("closedShortsCount", LedgerFigure<&Ledger::closedShorts>{});

  // ---- Profit figures -------------------------------------------------------------------------
  c.getter("netProfit", Figure<&Backtest::netProfit>{});
  c.getter("grossProfit", Figure<&Backtest::grossProfit>{});
  c.getter("grossLoss", Figure<&Backtest::grossLoss>{});
  c.getter("openProfit", Figure<&Backtest::openProfit>{});
  c.getter("netProfitPct", Figure<&Backtest::netProfitPct>{});
  c.getter("grossProfitPct", Figure<&Backtest::grossProfitPct>{});
  c.getter("grossLossPct", Figure<&Backtest::grossLossPct>{});
  c.getter("avgTrade", Figure<&Backtest::avgTrade>{});
  c.getter("avgWinningTrade", Figure<&Backtest::avgWinningTrade>{});
  c.getter("avgLosingTrade", Figure<&Backtest::avgLosingTrade>{});
  c.getter("avgWinLossRatio", Figure<&Backtest::avgWinLossRatio>{});
  c.getter("profitFactor", Figure<&Backtest::profitFactor>{});
  c.getter("winRate", Figure<&Backtest::winRate>{});

  // ---- Risk figures: per-bar ratios times the annualization factor (no square root) ------------
  c.method("sharpeRatio", Figure<&Backtest::sharpeRatio>{});
  c.method("sortinoRatio", Figure<&Backtest::sortinoRatio>{});
  c.method("expectancy", Figure<&Backtest::expectancy>{});
}
