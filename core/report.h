// The printed summary of a backtest: the metrics table, the headline table and the chart of the
// realised-equity curve. Built from plain figures so that it can be rendered and tested without
// an engine; the backtest binding fills them from its state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/table.h"

namespace bw {

class Backtest;

struct ReportFigures {
  double initialCapital = 0;
  double netProfit = 0;
  double grossProfit = 0;
  double grossLoss = 0;  // positive
  double openProfit = 0;
  double sharpeRatio = 0;
  double sortinoRatio = 0;
  double profitFactor = 0;
  uint64_t closedTrades = 0;
  uint64_t winningTrades = 0;
  uint64_t losingTrades = 0;
  double winRate = 0;  // a fraction
  double avgTrade = 0;
  double avgWinningTrade = 0;
  double avgLosingTrade = 0;  // positive
  double avgWinLossRatio = 0;
  double expectancy = 0;
  std::optional<std::string> currency;  // printed as " ?" when absent
  std::vector<double> netEquity;        // the chart's curve
};

// The two tables and the chart, each followed by a line break. `layout` says whether to emit
// bold and colours and the terminal width to stretch the tables to, if any.
std::string renderReport(const ReportFigures& f, const TableLayout& layout);

// The figures of a backtest as it stands, copied out so that rendering needs no hold on it.
ReportFigures reportFigures(const Backtest& bt);

}  // namespace bw
