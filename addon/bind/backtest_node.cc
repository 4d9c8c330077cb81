#include "addon/bind.h"
#include "addon/classes.h"
#include "addon/iter.h"
#include "addon/record.h"
#include "core/backtest.h"
#include "core/bar_index.h"
#include "core/metrics.h"
#include "core/trade_table.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>

using namespace bw;
using namespace bw::js;

namespace bw::js {
Result<napi_value> tradeRowObject(napi_env env, const TradeRow& r);  // trade_node.cc
}  // namespace bw::js

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

// ---- The options object of the constructor ------------------------------------------------------

Error badOption(const std::string& path, const std::string& what) {
  return invalidArg("Backtest option " + path + " " + what);
}

bool isPlainObject(napi_env env, napi_value v) {
  napi_valuetype t;
  return napi_typeof(env, v, &t) == napi_ok && t == napi_object;
}

// Refuses keys the options do not know, so that a misspelt cost is not silently free.
Result<Unit> knownKeysOnly(napi_env env, napi_value obj, const std::string& prefix,
                           std::initializer_list<std::string_view> known) {
  napi_value names;
  if (napi_get_all_property_names(env, obj, napi_key_own_only, napi_key_enumerable, napi_key_numbers_to_strings,
                                  &names) != napi_ok)
    return hostError(env, napi_generic_failure, "Cannot list the backtest options");
  BW_ASSIGN(n, arrayLength(env, names));
  for (uint32_t i = 0; i < n; ++i) {
    BW_ASSIGN(name, element(env, names, i));
    BW_ASSIGN(text, readText(env, name));
    if (std::find(known.begin(), known.end(), text) == known.end()) {
      std::string list;
      for (auto k : known) list += (list.empty() ? "" : ", ") + std::string(k);
      return badOption(prefix + text, "is not known (known: " + list + ")");
    }
  }
  return Unit{};
}

// A present option: its value, or absent for undefined and null.
Result<std::optional<napi_value>> option(const JsObject& o, const char* key) {
  BW_ASSIGN(v, record::field(o.env(), o.value(), key));
  return record::present(o.env(), v, record::Null::Absent);
}

Result<Unit> numberOption(const JsObject& o, const char* key, const std::string& path, double& out) {
  BW_ASSIGN(v, option(o, key));
  if (!v) return Unit{};
  napi_valuetype t;
  napi_typeof(o.env(), *v, &t);
  if (t != napi_number) return badOption(path, "must be a number, got " + std::string(typeName(o.env(), *v)));
  BW_ASSIGN(x, readF64(o.env(), *v));
  out = x;
  return Unit{};
}

Result<std::optional<JsObject>> objectOption(const JsObject& o, const char* key, const std::string& path,
                                             std::initializer_list<std::string_view> known) {
  BW_ASSIGN(v, option(o, key));
  if (!v) return std::optional<JsObject>{};
  if (!isPlainObject(o.env(), *v))
    return badOption(path, "must be an object, got " + std::string(typeName(o.env(), *v)));
  BW_TRY(knownKeysOnly(o.env(), *v, path + ".", known));
  return std::optional<JsObject>{JsObject(o.env(), *v)};
}

Result<Unit> readOptions(napi_env env, napi_value obj, BacktestOptions& options) {
  BW_TRY(knownKeysOnly(env, obj, "",
                       {"processOrdersOnClose", "riskFreeRate", "annualizationFactor", "commission", "slippage"}));
  const JsObject o(env, obj);
  BW_ASSIGN(onClose, option(o, "processOrdersOnClose"));
  if (onClose) {
    napi_valuetype t;
    napi_typeof(env, *onClose, &t);
    if (t != napi_boolean)
      return badOption("processOrdersOnClose", "must be a boolean, got " + std::string(typeName(env, *onClose)));
    BW_ASSIGN(flag, readBool(env, *onClose));
    options.processOrdersOnClose = flag;
  }
  BW_TRY(numberOption(o, "riskFreeRate", "riskFreeRate", options.riskFreeRate));
  double factor = kNaN;
  BW_TRY(numberOption(o, "annualizationFactor", "annualizationFactor", factor));
  if (!std::isnan(factor)) options.annualizationFactor = factor;

  Commission& c = options.costs.commission;
  BW_ASSIGN(commission, objectOption(o, "commission", "commission", {"percent", "perUnit", "perOrder", "minimum"}));
  if (commission) {
    BW_TRY(numberOption(*commission, "percent", "commission.percent", c.percent));
    BW_TRY(numberOption(*commission, "perUnit", "commission.perUnit", c.perUnit));
    BW_TRY(numberOption(*commission, "perOrder", "commission.perOrder", c.perOrder));
    BW_TRY(numberOption(*commission, "minimum", "commission.minimum", c.minimum));
  }
  Slippage& sl = options.costs.slippage;
  BW_ASSIGN(slippage, objectOption(o, "slippage", "slippage", {"ticks", "percent"}));
  if (slippage) {
    BW_TRY(numberOption(*slippage, "ticks", "slippage.ticks", sl.ticks));
    BW_TRY(numberOption(*slippage, "percent", "slippage.percent", sl.percent));
  }
  return Unit{};
}


// A waiting order as a plain object.
// A new array of one plain object per item, each made by `toObject`.
template <class T, class F>
Result<napi_value> objectList(napi_env env, const std::vector<T>& items, F toObject) {
  BW_ASSIGN(arr, makeArray(env, items.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    BW_ASSIGN(row, toObject(env, items[i]));
    BW_TRY(setElement(env, arr, static_cast<uint32_t>(i), row));
  }
  return arr;
}

Result<napi_value> pendingOrderObject(napi_env env, const Order& o) {
  const OrderType type = o.type();
  const bool resting = type != OrderType::Market;
  return ObjectBuilder(env)
      .set("order_id", static_cast<double>(o.id))
      .set("id", o.tag)
      .set("type", std::string(orderTypeName(type)))
      .set("size", o.size)
      .set("limit_price", o.terms.limitPrice)
      .set("stop_price", o.terms.stopPrice)
      .set("triggered", o.triggered)
      .set("live_from_bar_index", resting ? std::optional<int32_t>(toInt32(o.liveFrom)) : std::nullopt)
      .set("last_bar_index", toInt32(o.lastBar()))
      .done();
}

// Counts are plain numbers in the summary, so that it survives JSON.stringify.
double count(uint64_t n) { return static_cast<double>(n); }

Result<napi_value> sideSummary(napi_env env, const Backtest::SideFigures& f) {
  return ObjectBuilder(env)
      .set("closed_trades", count(f.closedTrades))
      .set("winning_trades", count(f.winningTrades))
      .set("losing_trades", count(f.losingTrades))
      .set("win_rate", winRate(f.winningTrades, f.closedTrades))
      .set("net_profit", f.netProfit)
      .set("gross_profit", f.grossProfit)
      .set("gross_loss", f.grossLoss)
      .set("profit_factor", profitFactor(f.grossProfit, f.grossLoss))
      .done();
}

// Every figure of the backtest as one plain object, built after the borrow is released.
Result<napi_value> summaryObject(napi_env env, const Backtest::Summary& f) {
  BW_ASSIGN(longs, sideSummary(env, f.longs));
  BW_ASSIGN(shorts, sideSummary(env, f.shorts));
  return ObjectBuilder(env)
      .set("initial_capital", f.initialCapital)
      .set("equity", f.equity)
      .set("net_equity", f.netEquity)
      .set("net_profit", f.netProfit)
      .set("net_profit_pct", f.netProfitPct)
      .set("gross_profit", f.grossProfit)
      .set("gross_loss", f.grossLoss)
      .set("commission_paid", f.commissionPaid)
      .set("open_profit", f.openProfit)
      .set("position_size", f.positionSize)
      .set("closed_trades", count(f.closedTrades))
      .set("open_trades", count(f.openTrades))
      .set("winning_trades", count(f.winningTrades))
      .set("losing_trades", count(f.losingTrades))
      .set("win_rate", f.winRate)
      .set("avg_trade", f.avgTrade)
      .set("avg_winning_trade", f.avgWinningTrade)
      .set("avg_losing_trade", f.avgLosingTrade)
      .set("avg_win_loss_ratio", f.avgWinLossRatio)
      .set("profit_factor", f.profitFactor)
      .set("expectancy", f.expectancy)
      .set("largest_winning_trade", f.largestWinningTrade)
      .set("largest_losing_trade", f.largestLosingTrade)
      .set("avg_trade_duration", f.avgTradeDuration)
      .set("max_drawdown", f.drawdown.amount)
      .set("max_drawdown_pct", f.drawdown.fraction)
      .set("max_drawdown_duration", count(f.drawdown.durationBars))
      .set("max_drawdown_peak_bar_index", toInt32(f.drawdown.peakBarIndex))
      .set("max_drawdown_trough_bar_index", toInt32(f.drawdown.troughBarIndex))
      .set("cagr", f.cagr)
      .set("exposure_pct", f.exposurePct)
      .set("buy_and_hold_return_pct", f.buyAndHoldReturnPct)
      .set("sharpe_ratio", f.sharpeRatio)
      .set("sortino_ratio", f.sortinoRatio)
      .set("annualized_sharpe_ratio", f.annualizedSharpeRatio)
      .set("annualized_sortino_ratio", f.annualizedSortinoRatio)
      .set("long", longs)
      .set("short", shorts)
      .done();
}

template <auto Field>
struct DrawdownFigure {
  auto operator()(const SharedBacktest& b) const {
    return b.read([](const Backtest& t) { return t.maxDrawdown().*Field; });
  }
};


Result<std::optional<int32_t>> asIndex(Result<std::optional<uint64_t>> r) {
  if (!r.ok()) return std::move(r).error();
  return toInt32(*r);
}

}  // namespace

BW_REGISTER(backtest) {
  Class<SharedBacktest> c;
  // The third argument is the process-orders-on-close flag, or an options object that takes the
  // place of the positional flags.
  // The third argument is the process-orders-on-close flag, or an options object that takes the
  // place of the positional flags.
  c.constructor([](Call& call, const SharedCtx& ctx, std::optional<double> initialCapital, napi_value third,
                   napi_value riskFreeRate, napi_value annualizationFactor) -> Result<SharedBacktest> {
    const napi_env env = call.env;
    BacktestOptions options;
    options.initialCapital = initialCapital.value_or(1000.0);
    if (isPlainObject(env, third)) {
      BW_ASSIGN(noRate, isNullish(env, riskFreeRate));
      BW_ASSIGN(noFactor, isNullish(env, annualizationFactor));
      if (!noRate || !noFactor)
        return invalidArg("Backtest options object: give riskFreeRate and annualizationFactor inside it, "
                          "not as further arguments");
      BW_TRY(readOptions(env, third, options));
    } else {
      BW_ASSIGN(onClose, Arg<std::optional<bool>>::read(env, third));
      BW_ASSIGN(rate, Arg<std::optional<double>>::read(env, riskFreeRate));
      BW_ASSIGN(factor, Arg<std::optional<double>>::read(env, annualizationFactor));
      options.processOrdersOnClose = onClose.value_or(false);
      options.riskFreeRate = rate.value_or(0.0);
      options.annualizationFactor = factor;
    }
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
  c.method("cancel", [](SharedBacktest& b, std::string id) {
    return b.write([&id](Backtest& t) { return t.cancel(id); });
  });
  c.getter("pendingOrders", [](Call& call, const SharedBacktest& b) -> Result<napi_value> {
    BW_ASSIGN(orders, b.read([](const Backtest& t) { return t.pendingOrders(); }));
    return objectList(call.env, orders, pendingOrderObject);
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
  c.getter("commissionPaid", Figure<&Backtest::commissionPaid>{});
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

  // ---- Further figures ------------------------------------------------------------------------
  c.getter("annualizedSharpeRatio", Figure<&Backtest::annualizedSharpeRatio>{});
  c.getter("annualizedSortinoRatio", Figure<&Backtest::annualizedSortinoRatio>{});
  c.getter("maxDrawdown", DrawdownFigure<&Backtest::DrawdownFigures::amount>{});
  c.getter("maxDrawdownPct", DrawdownFigure<&Backtest::DrawdownFigures::fraction>{});
  c.getter("maxDrawdownDuration", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) { return toInt32(t.maxDrawdown().durationBars); });
  });
  c.getter("maxDrawdownPeakBarIndex", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) { return toInt32(t.maxDrawdown().peakBarIndex); });
  });
  c.getter("maxDrawdownTroughBarIndex", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) { return toInt32(t.maxDrawdown().troughBarIndex); });
  });
  c.getter("cagr", Figure<&Backtest::cagr>{});
  c.getter("exposurePct", Figure<&Backtest::exposurePct>{});
  c.getter("buyAndHoldReturnPct", Figure<&Backtest::buyAndHoldReturnPct>{});
  c.getter("avgTradeDuration", Figure<&Backtest::avgTradeDuration>{});
  c.getter("largestWinningTrade", Figure<&Backtest::largestWinningTrade>{});
  c.getter("largestLosingTrade", Figure<&Backtest::largestLosingTrade>{});
  c.getter("longNetProfit", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) { return t.sideFigures(TradeDirection::Long).netProfit; });
  });
  c.getter("shortNetProfit", [](const SharedBacktest& b) {
    return b.read([](const Backtest& t) { return t.sideFigures(TradeDirection::Short).netProfit; });
  });
  // ---- Trade table ----------------------------------------------------------------------------
  c.method("tradeTable", [](Call& call, const SharedBacktest& b) -> Result<napi_value> {
    BW_ASSIGN(rows, b.read([](const Backtest& t) { return t.tradeRows(); }));
    return objectList(call.env, rows, tradeRowObject);
  });
  c.method("tradesCsv", [](const SharedBacktest& b) -> Result<std::string> {
    BW_ASSIGN(rows, b.read([](const Backtest& t) { return t.tradeRows(); }));
    return tradesCsv(rows);
  });
  c.method("summary", [](Call& call, const SharedBacktest& b) -> Result<napi_value> {
    BW_ASSIGN(figures, b.read([](const Backtest& t) { return t.summary(); }));
    return summaryObject(call.env, figures);
  });
}
