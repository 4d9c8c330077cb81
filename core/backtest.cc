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

Backtest::Backtest(SharedCtx ctx, const BacktestOptions& options, double annualization, QtyGrid grid, double minTick)
    : ctx_(std::move(ctx)),
      initialCapital_(options.initialCapital),
      riskFreeRate_(std::isnan(options.riskFreeRate) ? 0 : options.riskFreeRate),
      annualization_(annualization),
      minTick_(minTick),
      fill_(minTick, options.processOrdersOnClose, options.costs),
      orders_(grid),
      ledger_(grid) {}

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
  BW_TRY(options.costs.validate());
  return Backtest(std::move(ctx), options, annualization, QtyGrid{setup.minQty, qtyScale}, setup.minTick);
}

Result<uint64_t> Backtest::length() const {
  return ctx_.read([](const Ctx& c) { return static_cast<uint64_t>(c.ohlcv.length()); });
}

uint64_t Backtest::EntryBars::operator[](uint64_t k) const {
  // The last run that starts at or before k.
  auto run = std::upper_bound(runs_.begin(), runs_.end(), k, [](uint64_t x, const Run& r) { return x < r.entry; });
  --run;
  return run->bar + (k - run->entry);
}

void Backtest::RunList::setBack(double v) {
  Run& last = runs_.back();
  if (same(last.value, v)) return;
  stale_ = true;
  if (last.start + 1 != count_) {
    runs_.push_back({count_ - 1, v});
    return;
  }
  last.value = v;
  if (runs_.size() > 1 && same(runs_[runs_.size() - 2].value, v)) runs_.pop_back();
}

const std::vector<double>& Backtest::RunList::list() const {
  if (stale_) {
    list_.resize(count_);
    for (size_t r = 0; r < runs_.size(); ++r) {
      const uint64_t end = r + 1 < runs_.size() ? runs_[r + 1].start : count_;
      std::fill(list_.begin() + static_cast<std::ptrdiff_t>(runs_[r].start),
                list_.begin() + static_cast<std::ptrdiff_t>(end), runs_[r].value);
    }
    stale_ = false;
  }
  return list_;
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

Result<Unit> Backtest::fillOrder(Order& order, double raw, const BarPoint& at, bool rangeFromOpen) {
  const FillAt where{at.index, fill_.onClose(), fill_.fillPrice(raw, order.size),
                     fill_.onClose() ? at.bar.closeTime : at.bar.openTime};
  const double fee =
      fill_.costs().commission.any() ? fill_.commission(ledger_.fillableQuantity(order.size), where.price) : 0.0;
  BW_ASSIGN(opened, ledger_.fill(order.size, order.tag, where, fee));
  if (!opened || !order.terms.hasExits()) return Unit{};
  // The exits start from the fill price.
  const double side = order.size > 0 ? 1.0 : -1.0;
  ExitPlan plan{*opened, order.tag, side, kNaN, kNaN, order.terms.trailingStop, where.price, at.index};
  if (order.terms.stopLoss) plan.stopLoss = order.terms.stopLoss->at(where.price, -side);
  if (order.terms.takeProfit) plan.takeProfit = order.terms.takeProfit->at(where.price, side);
  exits_.push_back(plan);
  // A market entry at the open meets the rest of its bar with the other exits; one filled inside
  // the range (or at the close) meets only what is left of it.
  if (order.type() == OrderType::Market) return Unit{};
  BW_ASSIGN(gone, tryExit(exits_.back(), at, where.price, rangeFromOpen));
  if (gone) exits_.pop_back();
  return Unit{};
}

ExitLevels Backtest::levelsOf(const ExitPlan& p) const {
  ExitLevels l;
  l.side = p.side;
  l.stop = p.stopLoss;
  l.target = p.takeProfit;
  if (p.trail) {
    const double distance = p.trail->ticks ? p.trail->value * minTick_ : p.best * p.trail->value;
    const double trail = p.best - p.side * distance;
    // The tighter of the two stops: the higher for a long, the lower for a short.
    if (std::isnan(l.stop) || p.side * trail > p.side * l.stop) {
      l.stop = trail;
      l.trailing = true;
    }
  }
  return l;
}

Result<bool> Backtest::tryExit(ExitPlan& p, const BarPoint& at, double start, bool targetLive) {
  const Trade* trade = ledger_.openTrade(p.tradeId);
  if (!trade) return true;  // closed by other orders meanwhile
  const ExitFill hit = fill_.exit(levelsOf(p), start, at.bar, targetLive);
  if (hit.leg == ExitLeg::None) return false;
  const double size = trade->size;
  const FillAt where{at.index, fill_.onClose(), fill_.fillPrice(hit.raw, -size),
                     fill_.onClose() ? at.bar.closeTime : at.bar.openTime};
  BW_TRY(ledger_.exit(p.tradeId, p.tag, std::string(exitLegName(hit.leg)), where,
                      fill_.commission(size, where.price)));
  return true;
}

Result<Unit> Backtest::runExits(const BarPoint& at) {
  size_t kept = 0;
  for (size_t i = 0; i < exits_.size(); ++i) {
    ExitPlan& p = exits_[i];
    // On its entry bar an exit starts from the entry price, after the fill at the open.
    const double start = p.entryBar == at.index ? p.best : at.bar.open;
    BW_ASSIGN(gone, tryExit(p, at, start, true));
    if (gone) continue;
    // The trail follows the best price of the bars the trade has lived through.
    if (p.trail) p.best = p.side > 0 ? std::fmax(p.best, at.bar.high) : std::fmin(p.best, at.bar.low);
    exits_[kept++] = p;
  }
  exits_.resize(kept);
  return Unit{};
}

Result<Unit> Backtest::fillMarketOrders(const BarPoint& at) {
  // Without a price on this bar the orders wait, in their order, for a bar that has one.
  const double raw = fill_.onClose() ? at.bar.close : at.bar.open;
  const bool priced = std::isfinite(raw);
  return orders_.sweep([&](Order& o) -> Result<bool> {
    if (o.type() != OrderType::Market) return false;
    if (auto last = o.lastBar(); last && at.index > *last) return true;  // expired unfilled
    if (!priced) return false;
    BW_TRY(fillOrder(o, raw, at, true));
    return true;
  });
}

Result<Unit> Backtest::fillRestingOrders(const BarPoint& at) {
  return orders_.sweep([&](Order& o) -> Result<bool> {
    if (o.type() == OrderType::Market) return false;
    if (auto last = o.lastBar(); last && at.index > *last) return true;  // expired unfilled
    if (at.index < o.liveFrom) return false;
    if (!(o.size > 0 || o.size < 0)) return true;  // nothing to fill on the grid
    const RestingFill r = fill_.resting(o, at.bar);
    if (r.triggered) o.triggered = true;
    if (std::isnan(r.raw)) return false;
    BW_TRY(fillOrder(o, r.raw, at, r.atOpen));
    return true;
  });
}

Result<Backtest::PassOutcome> Backtest::processingPass(const BarPoint& at) {
  const bool onClose = fill_.onClose();
  // The order of events within a bar: in open mode the fills at the open, then what the bar's
  // range reaches (the exits of open trades, then limit and stop orders); in close mode the range
  // first, then the fills at the close.
  bool held = false;
  if (onClose) {
    // Held into the bar: the position saw its whole range.
    held = !ledger_.open().empty();
    if (held) ledger_.see(at.bar.high, at.bar.low);
  } else {
    BW_TRY(fillMarketOrders(at));
    held = !ledger_.open().empty();
  }
  if (!exits_.empty()) BW_TRY(runExits(at));
  if (orders_.pending() != 0) BW_TRY(fillRestingOrders(at));
  if (onClose) {
    BW_TRY(fillMarketOrders(at));
  } else if (!ledger_.open().empty()) {
    // Held from the open on: the rest of the bar.
    ledger_.see(at.bar.high, at.bar.low);
  }
  if (held) ++exposedBars_;
  BW_ASSIGN(openProfit, ledger_.mark(markPrice_));
  const double realised = initialCapital_ + ledger_.netProfit();
  return PassOutcome{realised + openProfit, realised};
}

Result<Unit> Backtest::runPass(const BarPoint& at) {
  BW_ASSIGN(out, processingPass(at));
  // A close-mode pass may run before any bar-open hook has made entries to write.
  if (!equity_.empty()) equity_.back() = out.equity;
  if (!netEquity_.empty()) netEquity_.setBack(out.netEquity);
  return Unit{};
}

Result<Unit> Backtest::openHook(const BarPoint& at) {
  openEntry(at.index);
  if (std::isnan(firstOpen_)) firstOpen_ = fill_.fillPrice(at.bar.open, 0);
  refreshMark(at.bar);
  if (!fill_.onClose()) return runPass(at);
  return Unit{};
}

Result<Unit> Backtest::closeHook(const BarPoint& at) {
  refreshMark(at.bar);
  if (fill_.onClose()) return runPass(at);
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

Result<std::optional<uint64_t>> Backtest::advanceAndOpen() {
  BW_ASSIGN(moved, ctx_.write([](Ctx& c) { return c.advanceToBar(); }));
  if (!moved) return std::optional<uint64_t>{};
  BW_TRY(openHook(BarPoint{moved->first, moved->second}));
  return std::optional<uint64_t>{moved->first};
}

Result<std::optional<uint64_t>> Backtest::step() {
  // One borrow of the context and one read of the series: the advance and the new bar together,
  // the bar copied once, straight into place (the wrapped results of the generic advance cost
  // a copy per layer on every bar).
  BarPoint at{};
  BW_ASSIGN(moved, ctx_.write([&at](Ctx& c) {
    return c.ohlcv.read([&c, &at](const Ohlcv& o) {
      const auto i = c.advanceWithin(o.bars.size());
      if (!i) return false;
      at.index = *i;
      at.bar = o.bars[*i];
      return true;
    });
  }));
  if (!moved) return std::optional<uint64_t>{};
  BW_TRY(openHook(at));
  BW_TRY(closeHook(at));
  return std::optional<uint64_t>{at.index};
}

Result<Unit> Backtest::busyBar(uint64_t index, const OhlcvBar& bar) {
  settleMark();
  refreshMark(bar);
  openEntry(index);
  return runPass(BarPoint{index, bar});
}

Error Backtest::failedBar(uint64_t index, Error e) {
  openEntry(index);
  return e;
}

void Backtest::reserveBars(uint64_t bars) {
  equity_.reserve(equity_.size() + bars);
}

Result<Unit> Backtest::skip(const CtxSkip& s) {
  BW_ASSIGN(target, ctx_.read([&s](const Ctx& c) { return c.skipTarget(s); }));
  return runUntil(target);
}

Result<Unit> Backtest::runUntil(uint64_t target) {
  struct Position {
    bool initialized;
    uint64_t index;
    uint64_t length;
  };
  BW_ASSIGN(from, ctx_.read([](const Ctx& c) { return Position{c.initialized, c.barIndex, c.ohlcv.length()}; }));
  target = std::min(target, from.length - 1);  // an empty series leaves the target as it is; nothing runs
  if (from.initialized && from.index >= target) return Unit{};
  // Only the steps below move the context, so the index each one yields is the position.
  for (;;) {
    BW_ASSIGN(moved, step());
    if (!moved || *moved >= target) return Unit{};
  }
}

Result<Unit> Backtest::signal(const Signal& s) { return signalOn(s, std::nullopt); }

Result<Unit> Backtest::signalOn(const Signal& s, std::optional<uint64_t> current) {
  settleMark();
  double size;
  std::optional<std::string> tag = s.id;
  std::optional<double> fraction;  // the new last equity fraction, set once the order is accepted
  switch (s.kind.tag) {
    case SignalKind::Tag::Hold:
      return Unit{};
    case SignalKind::Tag::CloseAll:
      fraction = 0;
      size = -ledger_.positionSize();
      break;
    case SignalKind::Tag::Size:
      size = s.kind.value;
      break;
    case SignalKind::Tag::EquityPct: {
      const double x = s.kind.value;
      const double eq = equity();
      if (!(eq > 0)) return Unit{};
      // No real price seen yet: there is nothing to size the position from.
      if (std::isnan(markPrice_)) return Unit{};
      if (std::isnan(x) ? std::isnan(lastEquityFraction_)
                        : std::fabs(x - lastEquityFraction_) < kEquityFractionStep)
        return Unit{};
      const double delta = orderSizeForEquityPct(x, eq, ledger_.positionSize(), markPrice_, 1.0, 1.0);
      size = orders_.grid().round(delta);
      if (size == 0) return Unit{};
      fraction = x;
      if (!tag) {
        if (!current) {
          BW_ASSIGN(index, ctx_.read([](const Ctx& c) { return c.barIndex; }));
          current = index;
        }
        tag = std::to_string(*current);
      }
      break;
    }
    default:
      return Unit{};
  }
  OrderConfig request{std::move(tag), size, {}, 0};
  if (!s.terms.plain()) {
    const OrderTerms& terms = s.terms;
    const double side = size > 0 ? 1.0 : size < 0 ? -1.0 : kNaN;
    const double reference = terms.limitPrice ? *terms.limitPrice : terms.stopPrice ? *terms.stopPrice : markPrice_;
    BW_TRY(terms.validate(side, reference));
    if (terms.type() != OrderType::Market && !std::isfinite(size))
      return invalidArg("Signal size of a " + std::string(orderTypeName(terms.type())) +
                        " order must be a finite number");
    // A resting order meets the bars after the one it is given on: it never fills on a range
    // that had already happened when it was placed.
    uint64_t liveFrom = current ? *current + 1 : 0;
    if (!current) {
      BW_ASSIGN(read, ctx_.read([](const Ctx& c) -> uint64_t { return c.initialized ? c.barIndex + 1 : 0; }));
      liveFrom = read;
    }
    request.terms = terms;
    request.liveFrom = liveFrom;
  }
  if (fraction) lastEquityFraction_ = *fraction;
  orders_.queue(std::move(request));
  return Unit{};
}

Result<Unit> Backtest::cancel(std::string_view id) {
  if (orders_.cancel(id) == 0) return invalidArg("cancel: no pending order has the id \"" + std::string(id) + "\"");
  return Unit{};
}

std::vector<Order> Backtest::pendingOrders() const {
  std::vector<Order> out;
  out.reserve(orders_.pending());
  for (uint64_t id : orders_.pendingIds()) out.push_back(orders_.orders()[id]);
  return out;
}

// ---- Figures --------------------------------------------------------------------------------------

std::vector<double> Backtest::returnsList() const { return returns(equity_); }

std::vector<double> Backtest::pnlList() const {
  std::vector<double> out;
  out.reserve(ledger_.closed().size());
  for (const Trade& t : ledger_.closed()) out.push_back(t.pnl);
  return out;
}

std::vector<TradeRow> Backtest::tradeRows() const {
  std::vector<TradeRow> rows;
  rows.reserve(ledger_.open().size() + ledger_.closed().size());
  for (const Trade& t : ledger_.open()) rows.push_back(tradeRow(t));
  for (const Trade& t : ledger_.closed()) rows.push_back(tradeRow(t));
  return rows;
}

double Backtest::netProfitPct() const { return bw::netProfitPct(ledger_.netProfit(), initialCapital_); }
double Backtest::grossProfitPct() const { return bw::grossProfitPct(ledger_.grossProfit(), initialCapital_); }
double Backtest::grossLossPct() const { return bw::grossLossPct(ledger_.grossLoss(), initialCapital_); }
double Backtest::avgTrade() const { return bw::avgTrade(ledger_.netProfit(), closedTradesCount()); }
double Backtest::avgWinningTrade() const { return bw::avgWinningTrade(ledger_.grossProfit(), ledger_.winningTrades()); }
double Backtest::avgLosingTrade() const { return bw::avgLosingTrade(ledger_.grossLoss(), ledger_.losingTrades()); }
double Backtest::avgWinLossRatio() const { return bw::avgWinLossRatio(avgWinningTrade(), avgLosingTrade()); }
double Backtest::profitFactor() const { return bw::profitFactor(ledger_.grossProfit(), ledger_.grossLoss()); }
double Backtest::winRate() const {
  return bw::winRate(ledger_.winningTrades(), closedTradesCount() + openTradesCount());
}

double Backtest::sharpeRatio() const {
  return perPeriodRatio(sharpeRatioFromReturns(returnsList(), riskFreeRate_));
}
double Backtest::sortinoRatio() const {
  return perPeriodRatio(sortinoRatioFromReturns(returnsList(), riskFreeRate_));
}
double Backtest::expectancy() const { return bw::expectancy(pnlList()); }

double Backtest::annualizedSharpeRatio() const {
  return annualizedRatio(sharpeRatioFromReturns(returnsList(), riskFreeRate_));
}
double Backtest::annualizedSortinoRatio() const {
  return annualizedRatio(sortinoRatioFromReturns(returnsList(), riskFreeRate_));
}

Backtest::DrawdownFigures Backtest::maxDrawdown() const {
  const Drawdown d = bw::maxDrawdown(equity_);
  DrawdownFigures out;
  if (!d.peak) return out;
  out.amount = d.amount;
  out.fraction = d.fraction;
  out.peakBarIndex = equityBars_[*d.peak];
  out.troughBarIndex = equityBars_[*d.trough];
  out.durationBars = equityBars_[d.recovery.value_or(equityBars_.size() - 1)] - equityBars_[*d.peak];
  return out;
}

double Backtest::cagr() const {
  // The newest entry may still wait for its pass: take the newest written one.
  auto last = std::find_if(equity_.rbegin(), equity_.rend(), [](double x) { return !std::isnan(x); });
  if (last == equity_.rend()) return kNaN;
  const double years = static_cast<double>(equity_.size()) / annualization_;
  return std::pow(*last / initialCapital_, 1 / years) - 1;
}

double Backtest::exposurePct() const {
  if (equity_.empty()) return kNaN;
  return static_cast<double>(exposedBars_) / static_cast<double>(equity_.size());
}

double Backtest::buyAndHoldReturnPct() const { return markPrice_ / firstOpen_ - 1; }

double Backtest::avgTradeDuration() const {
  const auto& closed = ledger_.closed();
  if (closed.empty()) return kNaN;
  double bars = 0;
  for (const Trade& t : closed)
    bars += static_cast<double>(t.exit->fillBarIndex) - static_cast<double>(t.entry->fillBarIndex);
  return bars / static_cast<double>(closed.size());
}

double Backtest::largestWinningTrade() const {
  double best = kNaN;
  for (const Trade& t : ledger_.closed())
    if (t.pnl > 0 && !(t.pnl <= best)) best = t.pnl;
  return best;
}

double Backtest::largestLosingTrade() const {
  double worst = kNaN;
  for (const Trade& t : ledger_.closed())
    if (t.pnl <= 0 && !(std::fabs(t.pnl) <= worst)) worst = std::fabs(t.pnl);
  return worst;
}

Backtest::SideFigures Backtest::sideFigures(TradeDirection side) const {
  SideFigures out;
  for (const Trade& t : ledger_.closed()) {
    if (t.direction() != side) continue;
    ++out.closedTrades;
    out.netProfit += t.pnl;
    if (t.pnl > 0) {
      ++out.winningTrades;
      out.grossProfit += t.pnl;
    } else {
      ++out.losingTrades;
      out.grossLoss += std::fabs(t.pnl);
    }
  }
  return out;
}

Backtest::Summary Backtest::summary() const {
  // The returns are one pass over the equity list: made once for the four ratios.
  const std::vector<double> r = returnsList();
  const double sharpe = sharpeRatioFromReturns(r, riskFreeRate_);
  const double sortino = sortinoRatioFromReturns(r, riskFreeRate_);
  return Summary{initialCapital_,
                 equity(),
                 netEquity(),
                 netProfit(),
                 netProfitPct(),
                 grossProfit(),
                 grossLoss(),
                 commissionPaid(),
                 openProfit(),
                 positionSize(),
                 closedTradesCount(),
                 openTradesCount(),
                 winningTradesCount(),
                 losingTradesCount(),
                 winRate(),
                 avgTrade(),
                 avgWinningTrade(),
                 avgLosingTrade(),
                 avgWinLossRatio(),
                 profitFactor(),
                 expectancy(),
                 largestWinningTrade(),
                 largestLosingTrade(),
                 avgTradeDuration(),
                 maxDrawdown(),
                 cagr(),
                 exposurePct(),
                 buyAndHoldReturnPct(),
                 perPeriodRatio(sharpe),
                 perPeriodRatio(sortino),
                 annualizedRatio(sharpe),
                 annualizedRatio(sortino),
                 sideFigures(TradeDirection::Long),
                 sideFigures(TradeDirection::Short)};
}

}  // namespace bw
