#include "core/pine.h"

#include <cstdio>

#include "barwise_package.h"
#include "core/backtest.h"
#include "core/numfmt.h"

namespace bw {

namespace {

// "2025-03-04 05:06:07.250 UTC": the fraction only when there is one, in 3, 6 or 9 digits,
// the fewest that show it exactly.
std::string generatedAtText(const DateTime& t) {
  const CivilTime c = t.civil();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", c.year, c.month, c.day, c.hour, c.minute, c.second);
  std::string out = buf;
  appendFraction(out, c.nanos);
  out += " UTC";
  return out;
}

// The open time, in whole milliseconds, of the bar an order was placed on, or "na" for no event.
Result<std::string> openTimeMs(const std::optional<int64_t>& barIndex, const Ohlcv& series, size_t trade,
                               const char* side) {
  if (!barIndex) return std::string("na");
  const int64_t i = *barIndex;
  if (i < 0 || static_cast<uint64_t>(i) >= series.bars.size())
    return invalidArg("Cannot export trade " + std::to_string(trade) + " to Pine: its " + side +
                      " order bar index " + std::to_string(i) + " has no bar in the series");
  const auto& open = series.bars[static_cast<size_t>(i)].openTime;
  if (!open)
    return invalidArg("Cannot export trade " + std::to_string(trade) + " to Pine: bar " + std::to_string(i) +
                      " of its " + side + " order has no open time");
  return std::to_string(open->toMillis());
}

constexpr const char* kTradeType =
    "\ntype Trade\n"
    "    string id\n"
    "    int entry_open_time_ms\n"
    "    int exit_open_time_ms\n"
    "    float size\n"
    "        ";

constexpr const char* kReplayLoop =
    "\nopen_time_ms = time\n"
    "\n"
    "for i = 0 to array.size(trades) - 1\n"
    "    item = array.get(trades, i)\n"
    "    qty = math.abs(item.size)\n"
    "\n"
    "    if item.entry_open_time_ms == open_time_ms\n"
    "        _dir = item.size > 0 ? strategy.long : strategy.short\n"
    "        strategy.order(id=item.id, direction=_dir, qty=qty)\n"
    "\n"
    "    if item.exit_open_time_ms == open_time_ms\n"
    "        _dir = item.size > 0 ? strategy.short : strategy.long\n"
    "        strategy.order(id=item.id, direction=_dir, qty=qty)\n"
    "    ";

}  // namespace

Result<std::string> toPine(double initialCapital, std::span<const PineTrade> trades, const Ohlcv& series,
                           const DateTime& generatedAt) {
  // The records first: a refused trade must not cost the header's work, and nothing is returned
  // half-written.
  std::string records;
  for (size_t k = 0; k < trades.size(); ++k) {
    const PineTrade& t = trades[k];
    BW_ASSIGN(entry, openTimeMs(t.entryOrderBarIndex, series, k, "entry"));
    BW_ASSIGN(exit, openTimeMs(t.exitOrderBarIndex, series, k, "exit"));
    if (k) records += ',';
    records += "Trade.new(id=\"" + std::to_string(k) + "\", entry_open_time_ms=" + entry +
               ", exit_open_time_ms=" + exit + ", size=" + formatPlainNumber(t.size) + ")";
  }

  std::string out = "//@version=5";
  out += "\nstrategy(\"Strategy export\", overlay=true, initial_capital=";
  out += formatPlainNumber(initialCapital);
  out += ", default_qty_type = strategy.percent_of_equity, default_qty_value = 100)";
  out += "\n// Generated at " + generatedAtText(generatedAt);
  out += "\n// by barwise (" BARWISE_HOMEPAGE "), fast and exact trading analysis for Node.js\n\n";
  out += kTradeType;
  out += "\ntrades = array.from<Trade>(" + records + ")";
  out += kReplayLoop;
  return out;
}

Result<std::string> toPine(const Backtest& bt, const DateTime& generatedAt) {
  const Ledger& book = bt.ledger();
  std::vector<PineTrade> trades;
  trades.reserve(book.open().size() + book.closed().size());
  auto add = [&](const Trade& t) {
    PineTrade p;
    if (t.entry) p.entryOrderBarIndex = t.entry->orderBarIndex;
    if (t.exit) p.exitOrderBarIndex = t.exit->orderBarIndex;
    p.size = t.size;
    trades.push_back(p);
  };
  for (const Trade& t : book.open()) add(t);
  for (const Trade& t : book.closed()) add(t);
  BW_ASSIGN(series, bt.ctx().read([](const Ctx& c) { return c.ohlcv; }));
  return series.read([&](const Ohlcv& o) { return toPine(bt.initialCapital(), trades, o, generatedAt); });
}

}  // namespace bw
