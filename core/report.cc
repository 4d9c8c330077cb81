#include "core/report.h"

#include <cmath>
#include <cstdio>

#include "core/backtest.h"
#include "core/chart.h"
#include "core/numfmt.h"

namespace bw {

namespace {

std::string money(double x, const std::string& suffix) { return formatFixed(x, 2) + suffix; }
std::string percent(double x) { return formatFixed(x, 2) + "%"; }

// Green above the threshold, red below, white otherwise (NaN and the threshold itself).
Color judged(double x, double threshold) {
  if (x > threshold) return Color::Green;
  if (x < threshold) return Color::Red;
  return Color::White;
}

}  // namespace

std::string renderReport(const ReportFigures& f, const TableLayout& layout) {
  const std::string cur = " " + f.currency.value_or("?");
  const double k = f.initialCapital;

  auto styleOf = [](std::string_view chars) {
    // The two built-in styles are well formed.
    return *TableStyle::parse(chars);
  };

  Table metrics(styleOf(kAsciiGrid));
  metrics.header({"Metric", "Value"});
  metrics.row({"Net Profit", money(f.netProfit, cur) + "\n" + percent(f.netProfit / k * 100)});
  metrics.row({"Gross Profit", money(f.grossProfit, cur) + "\n" + percent(f.grossProfit / k * 100)});
  metrics.row({"Gross Loss", money(f.grossLoss, cur) + "\n" + percent(f.grossLoss / k * 100)});
  metrics.row({"Sharpe Ratio", formatFixed(f.sharpeRatio, 3)});
  metrics.row({"Sortino Ratio", formatFixed(f.sortinoRatio, 3)});
  metrics.row({"Profit Factor", formatFixed(f.profitFactor, 3)});
  metrics.row({"Open P/L", money(f.openProfit, cur)});
  metrics.row({"Total Closed Trades", std::to_string(f.closedTrades)});
  metrics.row({"Number Winning Trades", std::to_string(f.winningTrades)});
  metrics.row({"Number Losing Trades", std::to_string(f.losingTrades)});
  metrics.row({"% Profitable", percent(f.winRate * 100)});
  metrics.row({"Avg Trade", money(f.avgTrade, cur)});
  metrics.row({"Avg Winning Trade", money(f.avgWinningTrade, cur)});
  metrics.row({"Avg Losing Trade", money(f.avgLosingTrade, cur)});
  metrics.row({"Ratio Avg Win / Avg Loss", formatFixed(f.avgWinLossRatio, 2)});
  metrics.row({"Expectancy", formatFixed(f.expectancy, 2)});

  auto head = [](const char* text) { return Cell(text, true); };
  auto value = [](std::string text, Color c) { return Cell(std::move(text), true, c); };
  Table headline(styleOf(kBoxGrid));
  headline.header({head("Net Profit"), head("Total Closed Trades"), head("% Profitable"), head("Profit Factor"),
                   head("Avg Trade")});
  headline.row({
      value(money(f.netProfit, cur) + " " + percent(f.netProfit / k * 100), judged(f.netProfit, 0)),
      value(std::to_string(f.closedTrades), Color::White),
      value(percent(f.winRate * 100), judged(f.winRate, 0.5)),
      value(formatFixed(f.profitFactor, 3), judged(f.profitFactor, 1)),
      value(money(f.avgTrade, cur), Color::White),
  });

  std::string out = metrics.render(layout);
  out += '\n';
  out += headline.render(layout);
  out += '\n';
  out += renderSeriesChart(f.netEquity);
  out += '\n';
  return out;
}

ReportFigures reportFigures(const Backtest& bt) {
  ReportFigures f;
  f.initialCapital = bt.initialCapital();
  f.netProfit = bt.netProfit();
  f.grossProfit = bt.grossProfit();
  f.grossLoss = bt.grossLoss();
  f.openProfit = bt.openProfit();
  f.sharpeRatio = bt.sharpeRatio();
  f.sortinoRatio = bt.sortinoRatio();
  f.profitFactor = bt.profitFactor();
  f.closedTrades = bt.closedTradesCount();
  f.winningTrades = bt.winningTradesCount();
  f.losingTrades = bt.losingTradesCount();
  f.winRate = bt.winRate();
  f.avgTrade = bt.avgTrade();
  f.avgWinningTrade = bt.avgWinningTrade();
  f.avgLosingTrade = bt.avgLosingTrade();
  f.avgWinLossRatio = bt.avgWinLossRatio();
  f.expectancy = bt.expectancy();
  f.netEquity = bt.netEquityList();
  auto sym = bt.ctx().read([](const Ctx& c) { return c.sym.currency; });
  if (sym.ok()) f.currency = *sym;
  return f;
}

}  // namespace bw
