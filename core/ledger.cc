#include "core/ledger.h"

#include <cmath>

namespace bw {

namespace {

// 1 for +0 and positive, -1 for -0 and negative, NaN for NaN.
double signum(double x) { return std::isnan(x) ? x : std::copysign(1.0, x); }

}  // namespace

TradeEvent fillEvent(const FillAt& at, const std::optional<std::string>& tag) {
  TradeEvent e;
  e.id = tag;
  e.orderBarIndex = at.onClose ? static_cast<int64_t>(at.barIndex) : static_cast<int64_t>(at.barIndex - 1);
  e.fillBarIndex = at.barIndex;
  e.price = at.price;
  e.time = at.time;
  return e;
}

Result<Unit> closeAt(Trade& t, const FillAt& at, const std::optional<std::string>& tag) {
  if (!t.isActive()) return TradeError::notActive().toError();
  t.pnl = (at.price - t.entry->price) * t.size - t.commission;
  t.exit = fillEvent(at, tag);
  t.highest = std::fmax(t.highest, at.price);
  t.lowest = std::fmin(t.lowest, at.price);
  return Unit{};
}

Result<double> markTrades(std::deque<Trade>& open, double mark) {
  double sum = 0;
  for (Trade& t : open) {
    if (!t.isActive()) return TradeError::notActive().toError();
    const double at = std::isnan(mark) ? t.entry->price : mark;
    t.pnl = (at - t.entry->price) * t.size - t.commission;
    sum += t.pnl;
  }
  return sum;
}

double Ledger::fillableQuantity(double size) const {
  double opposite = 0;
  for (const Trade& t : open_)
    if (signum(t.size) != signum(size)) opposite += std::fabs(t.size);
  const double closes = std::fmin(std::fabs(size), opposite);
  const double rest = std::fabs(size) - closes;
  if (std::isnan(size)) return kNaN;
  return closes + (rest >= grid_.minQty ? rest : 0);
}

Result<std::optional<uint64_t>> Ledger::fill(double size, const std::optional<std::string>& tag, const FillAt& at,
                                             double commission) {
  // Each part of the fill pays its share of the commission, by quantity.
  const double filled = commission != 0 ? fillableQuantity(size) : 0;
  auto share = [&](double quantity) { return filled > 0 ? commission * std::fabs(quantity) / filled : 0.0; };
  if (filled > 0) commissionPaid_ += commission;

  double remaining = size;
  // Net against open trades of the other direction, oldest first. Open trades never mix
  // directions (an order opens a trade only after consuming every opposite one), so in practice
  // this works from the front.
  size_t i = 0;
  while (remaining != 0 && i < open_.size()) {
    Trade& t = open_[i];
    if (signum(t.size) == signum(remaining)) {
      ++i;
    } else if (std::fabs(remaining) >= std::fabs(t.size)) {
      Trade whole = std::move(t);
      open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(i));
      if (whole.direction() == TradeDirection::Long) --openLongs_;
      remaining += whole.size;
      whole.commission += share(whole.size);
      BW_TRY(closeTrade(std::move(whole), tag, at));
    } else {
      // A partial close: the trade stays open with its entry, a closed copy takes the part and
      // its share of the entry's commission.
      const double newSize = remaining + t.size;
      if (std::isnan(newSize)) return TradeError::invalidTradeSize(newSize).toError();
      const double entryShare = t.commission * std::fabs(remaining) / std::fabs(t.size);
      t.size = newSize;
      t.commission -= entryShare;
      Trade part = t;
      part.size = std::copysign(std::fabs(remaining), newSize);
      part.commission = entryShare + share(remaining);
      remaining = 0;
      BW_TRY(closeTrade(std::move(part), tag, at));
    }
  }
  if (std::fabs(remaining) >= grid_.minQty) {
    BW_ASSIGN(id, openNew(remaining, tag, at, share(remaining)));
    return std::optional<uint64_t>{id};
  }
  return std::optional<uint64_t>{};
}

Result<uint64_t> Ledger::openNew(double size, const std::optional<std::string>& tag, const FillAt& at, double commission) {
  if (std::isnan(size)) return TradeError::invalidTradeSize(size).toError();
  if (!firstEntryBarIndex_) firstEntryBarIndex_ = at.barIndex;
  Trade t;
  t.entry = fillEvent(at, tag);
  t.size = size;
  t.pnl = kNaN;  // the marking of the same pass values it
  const uint64_t id = t.id = nextTradeId_++;
  t.commission = commission;
  t.highest = t.lowest = at.price;
  positionSize_ = grid_.round(positionSize_ + size);
  if (t.direction() == TradeDirection::Long) ++openLongs_;
  open_.push_back(std::move(t));
  return id;
}

const Trade* Ledger::openTrade(uint64_t tradeId) const {
  for (const Trade& t : open_)
    if (t.id == tradeId) return &t;
  return nullptr;
}

Result<Unit> Ledger::exit(uint64_t tradeId, const std::optional<std::string>& tag, std::string comment,
                          const FillAt& at, double commission) {
  for (size_t i = 0; i < open_.size(); ++i) {
    if (open_[i].id != tradeId) continue;
    Trade t = std::move(open_[i]);
    open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(i));
    if (t.direction() == TradeDirection::Long) --openLongs_;
    t.commission += commission;
    commissionPaid_ += commission;
    BW_TRY(closeTrade(std::move(t), tag, at));
    closed_.back().exit->comment = std::move(comment);
    return Unit{};
  }
  return TradeError::notActive().toError();
}

void Ledger::see(double high, double low) {
  for (Trade& t : open_) {
    t.highest = std::fmax(t.highest, high);
    t.lowest = std::fmin(t.lowest, low);
  }
}

Result<Unit> Ledger::closeTrade(Trade t, const std::optional<std::string>& tag, const FillAt& at) {
  BW_TRY(closeAt(t, at, tag));
  netProfit_ += t.pnl;
  if (t.pnl > 0) {
    ++winningTrades_;
    grossProfit_ += t.pnl;
  } else {
    ++losingTrades_;
    grossLoss_ += std::fabs(t.pnl);
  }
  positionSize_ = grid_.round(positionSize_ - t.size);
  if (t.direction() == TradeDirection::Long) ++closedLongs_;
  closed_.push_back(std::move(t));
  return Unit{};
}

Result<double> Ledger::mark(double price) {
  double sum = 0;
  if (!markOpen(price, sum)) return TradeError::notActive().toError();
  return sum;
}

}  // namespace bw
