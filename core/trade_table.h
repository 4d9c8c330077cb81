// The trade table: one flat record per trade (for trade.toJSON() and bt.tradeTable()) and the
// same records as CSV text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/datetime.h"
#include "core/trade.h"

namespace bw {

struct TradeRow {
  uint64_t id = 0;
  TradeDirection direction = TradeDirection::Long;
  double size = 0;
  std::optional<std::string> entryId, exitId;  // the tags of the orders
  std::optional<uint64_t> entryBarIndex, exitBarIndex;  // fill bars; the exit's absent while open
  std::optional<DateTime> entryTime, exitTime;
  double entryPrice = kNaN;
  double exitPrice = kNaN;  // NaN while open
  double pnl = kNaN;        // net of the commission; while open, at the last marking
  double returnPct = kNaN;  // pnl / (entry price × |size|)
  double commission = 0;
  std::optional<uint64_t> durationBars;  // exit fill bar - entry fill bar; absent while open
  // The highest and lowest prices seen while open: how far the trade ran for and against it.
  double highestPrice = kNaN;
  double lowestPrice = kNaN;
};

TradeRow tradeRow(const Trade& t);

// A header row, then one row per trade, each ending in "\n". Numbers in their shortest exact
// form; NaN and absent values as empty cells; times in RFC 3339. Text cells that hold a comma, a
// quote or a line break are quoted (quotes doubled), and order tags that a spreadsheet would run
// as a formula (starting with =, +, -, @, a tab or a carriage return) get a leading apostrophe.
std::string tradesCsv(std::span<const TradeRow> rows);

}  // namespace bw
