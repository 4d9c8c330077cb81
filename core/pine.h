// The Pine Script (version 5) strategy text of a backtest's trades: a record type for trades,
// one record per trade with the open times of the bars its entry and exit orders were placed on,
// and a bar loop that places market orders at those times, so that a charting tool can replay
// the backtest.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/datetime.h"
#include "core/error.h"
#include "core/ohlcv.h"

namespace bw {

class Backtest;

// What the export needs of one trade.
struct PineTrade {
  std::optional<int64_t> entryOrderBarIndex;  // absent: the trade has no entry ("na")
  std::optional<int64_t> exitOrderBarIndex;   // absent: the trade is open ("na")
  double size = 0;
};

// The whole text. `trades` come in the order they are listed (open trades first, then closed
// ones); a trade's record id is its position in that list. A trade whose order bar index has no
// bar in `series`, or whose bar has no open time, is refused, naming the trade and the bar.
Result<std::string> toPine(double initialCapital, std::span<const PineTrade> trades, const Ohlcv& series,
                           const DateTime& generatedAt);

// The export of a backtest's trades (open ones first, then closed ones) against its series.
Result<std::string> toPine(const Backtest& bt, const DateTime& generatedAt);

}  // namespace bw
