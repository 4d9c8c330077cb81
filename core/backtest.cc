#include "core/backtest.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/metrics.h"
#include "core/stats.h"

namespace bw {

namespace {

// The smallest step between two equity fractions that still counts as a change.
constexpr double kEquityFractionStep = 1e-5;

}  // namespace

Backtest::Backtest(SharedCtx ctx, const BacktestOptions& options, double annualization, double minQty, double minTick)
    : ctx_(std::move(ctx)),
      initialCapital_(options.initialCapital),
      onClose_(options.processOrdersOnClose),
      riskFreeRate_(std::isnan(options.riskFreeRate) ? 0 : options.riskFreeRate),
      annualization_(annualization),
      minQty_(minQty),
      minTick_(minTick),
      orders_(minQty) {}

Result<Backtest> Backtest::create(SharedCtx ctx, BacktestOptions options) {
  struct Setup {
    double minQty, minTick;
    Timeframe timeframe;
    int periods;
  };
  BW_ASSIGN(setup, ctx.read([](const Ctx& c) {
    return Setup{c.sym.minQty, c.sym.minTick, c.ohlcv.timeframe(), c.sym.kind.periodsPerYear()};
  }));
  if (std::isnan(setup.minQty) || std::isnan(setup.minTick))
    return invalidArg("Ctx Symbol is not suitable for backtesting, min_qty is NaN or min_tick is NaN");
  double annualization = options.annualizationFactor.value_or(kNaN);
  if (std::isnan(annualization)) {
    BW_ASSIGN(computed, bw::annualizationFactor(setup.timeframe, setup.periods));
    annualization = computed;
  }
  BW_ASSIGN(qtyScale, qtyScaleOf(setup.minQty));
  // A min_qty above 2 rounds the quantity grid round(1 / min_qty) to 0 (and a tiny one to
  // infinity), and a zero or infinite tick makes every price NaN: every order and figure would
  // silently be NaN.
  if (!(qtyScale > 0) || std::isinf(qtyScale))
    return invalidArg("min_qty must give a quantity grid: round(1 / min_qty) must be a positive finite number");
  if (!(setup.minTick > 0) || std::isinf(setup.minTick))
    return invalidArg("min_tick must be a positive finite number");
  return Backtest(std::move(ctx), options, annualization, setup.minQty, setup.minTick);
}

Result<uint64_t> Backtest::length() const {
  return ctx_.read([](const Ctx& c) { return static_cast<uint64_t>(c.ohlcv.length()); });
}

// ---- Driving ------------------------------------------------------------------------------------

Result<Backtest::BarPoint> Backtest::currentBar() const {
  BW_ASSIGN(found, ctx_.read([](const Ctx& c) -> std::optional<BarPoint> {
    auto bar = c.ohlcv.get(c.barIndex);
    if (!bar) return std::nullopt;
    return BarPoint{c.barIndex, *bar};
  }));
  if (!found) return invalidArg("Backtest bar hook needs a current bar: the series has no bar at the bar index");
  return *found;
}

void Backtest::refreshPrices(const OhlcvBar& bar) {
  markPrice_ = roundToMinTick(bar.close, minTick_);
  orders_.fillPrice = roundToMinTick(onClose_ ? bar.close : bar.open, minTick_);
}

Result<Unit> Backtest::runPass(uint64_t barIndex) {
  PassInputs in{{barIndex, onClose_}, markPrice_, initialCapital_};
  if (auto e = processOrders(orders_, trades_, in, equity_, netEquity_)) return e->toError();
  return Unit{};
}

Result<Unit> Backtest::openHook(const BarPoint& at) {
  equity_.push_back(kNaN);
  netEquity_.push_back(kNaN);
  refreshPrices(at.bar);
  if (!onClose_) return runPass(at.index);
  return Unit{};
}

Result<Unit> Backtest::closeHook(const BarPoint& at) {
  refreshPrices(at.bar);
  if (onClose_) return runPass(at.index);
  return Unit{};
}

Result<Unit> Backtest::onBarOpen() {
  BW_ASSIGN(at, currentBar());
  return openHook(at);
}

Result<Unit> Backtest::onBarClose() {
  BW_ASSIGN(at, currentBar());
  return closeHook(at);
}

Result<std::optional<uint64_t>> Backtest::advance() {
  return ctx_.write([](Ctx& c) { return c.advance(); });
}

Result<std::optional<uint64_t>> Backtest::advanceAndOpen() {
  BW_ASSIGN(moved, advance());
  if (!moved) return moved;
  BW_TRY(onBarOpen());
  return moved;
}

Result<std::optional<uint64_t>> Backtest::step() {
  BW_ASSIGN(moved, advance());
  if (!moved) return moved;
  // Both hooks refresh from the same bar: it is read once.
  BW_ASSIGN(at, currentBar());
  BW_TRY(openHook(at));
  BW_TRY(closeHook(at));
  return moved;
}

Result<Unit> Backtest::skip(const CtxSkip& s) {
  // The target is where a context skip would move the cursor, found on a scratch cursor.
  BW_ASSIGN(target, ctx_.read([&s](const Ctx& c) {
    Ctx scratch{Sym{}, c.ohlcv, c.barIndex, c.initialized};
    scratch.skip(s);
    return scratch.barIndex;
  }));
  return runUntil(target);
}

Result<Unit> Backtest::runUntil(uint64_t target) {
  BW_ASSIGN(len, length());
  target = std::min(target, len - 1);  // an empty series leaves the target as it is; nothing runs
  for (;;) {
    BW_ASSIGN(position, ctx_.read([](const Ctx& c) { return std::pair(c.initialized, c.barIndex); }));
    if (position.first && position.second >= target) return Unit{};
    BW_ASSIGN(moved, step());
    if (!moved) return Unit{};
  }
}

Result<Unit> Backtest::signal(const Signal& s) {
  double size;
  std::optional<std::string> tag = s.id;
  switch (s.kind.tag) {
    case SignalKind::Tag::Hold:
      return Unit{};
    case SignalKind::Tag::CloseAll:
      lastEquityFraction_ = 0;
      size = -trades_.positionSize;
      break;
    case SignalKind::Tag::Size:
      size = s.kind.value;
      break;
    case SignalKind::Tag::EquityPct: {
      const double x = s.kind.value;
      const double eq = equity();
      if (!(eq > 0)) return Unit{};
      if (std::isnan(x) ? std::isnan(lastEquityFraction_)
                        : std::fabs(x - lastEquityFraction_) < kEquityFractionStep)
        return Unit{};
      const double delta = orderSizeForEquityPct(x, eq, trades_.positionSize, markPrice_, 1.0, 1.0);
      size = roundContracts(delta, minQty_, orders_.qtyScale());
      if (size == 0) return Unit{};
      lastEquityFraction_ = x;
      if (!tag) {
        BW_ASSIGN(index, ctx_.read([](const Ctx& c) { return c.barIndex; }));
        tag = std::to_string(index);
      }
      break;
    }
    default:
      return Unit{};
  }
  orders_.queue(OrderConfig{std::move(tag), size});
  return Unit{};
}

// ---- Figures --------------------------------------------------------------------------------------

std::vector<double> Backtest::returnsList() const { return returns(equity_); }

std::vector<double> Backtest::pnlList() const {
  std::vector<double> out;
  out.reserve(trades_.closed.size());
  for (const Trade& t : trades_.closed) out.push_back(t.pnl);
  return out;
}

double Backtest::netProfitPct() const { return bw::netProfitPct(trades_.netProfit, initialCapital_); }
double Backtest::grossProfitPct() const { return bw::grossProfitPct(trades_.grossProfit, initialCapital_); }
double Backtest::grossLossPct() const { return bw::grossLossPct(trades_.grossLoss, initialCapital_); }
double Backtest::avgTrade() const { return bw::avgTrade(trades_.netProfit, closedTradesCount()); }
double Backtest::avgWinningTrade() const { return bw::avgWinningTrade(trades_.grossProfit, trades_.winningTrades); }
double Backtest::avgLosingTrade() const { return bw::avgLosingTrade(trades_.grossLoss, trades_.losingTrades); }
double Backtest::avgWinLossRatio() const { return bw::avgWinLossRatio(avgWinningTrade(), avgLosingTrade()); }
double Backtest::profitFactor() const { return bw::profitFactor(trades_.grossProfit, trades_.grossLoss); }
double Backtest::winRate() const {
  return bw::winRate(trades_.winningTrades, closedTradesCount() + openTradesCount());
}

double Backtest::sharpeRatio() const {
  return sharpeRatioFromReturns(returnsList(), riskFreeRate_) * annualization_;
}
double Backtest::sortinoRatio() const {
  return sortinoRatioFromReturns(returnsList(), riskFreeRate_) * annualization_;
}
double Backtest::expectancy() const { return bw::expectancy(pnlList()); }

}  // namespace bw
