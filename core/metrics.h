// Performance metrics of a trading strategy. Most apply one formula to already aggregated
// figures with a fixed rule for a zero divisor; the series metrics aggregate returns or trade
// results themselves. The backtest's figures and the printed report use these same functions.
//
// "NaN when x is 0" means x == 0 exactly: a NaN divisor passes the test and gives NaN through the
// division. Nothing here annualizes; the backtest multiplies its Sharpe and Sortino figures by
// its annualization factor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace bw {

// ---- Ratios of two figures --------------------------------------------------------------------

// grossProfit / grossLoss; NaN when grossLoss is 0.
double profitFactor(double grossProfit, double grossLoss);
// avgWin / avgLoss; NaN when avgLoss is 0.
double avgWinLossRatio(double avgWin, double avgLoss);
// -first / second; NaN when second is 0.
double longNetProfitRatio(double first, double second);
// winning / total; NaN when total is 0.
double winRate(uint64_t winning, uint64_t total);
// netProfit / count; NaN when count is 0.
double avgTrade(double netProfit, uint64_t count);
// grossProfit / count; NaN when count is 0.
double avgWinningTrade(double grossProfit, uint64_t count);
// grossLoss / count; NaN when count is 0.
double avgLosingTrade(double grossLoss, uint64_t count);

// figure / base (the initial capital), a fraction; the plain division, no zero test.
double netProfitPct(double netProfit, double base);
double grossProfitPct(double grossProfit, double base);
double grossLossPct(double grossLoss, double base);
double longNetProfitPct(double longNetProfit, double base);
double shortNetProfitPct(double shortNetProfit, double base);

// ---- Other formulas ---------------------------------------------------------------------------

// quantity × (current - entry).
double pnl(double quantity, double entryPrice, double currentPrice);
// a × b.
double expectancyScore(double a, double b);
// (a - rf) / d; NaN when d is 0. Sharpe: mean return and standard deviation; Sortino: mean
// return and downside deviation; Omega: the same shape over the caller's figures.
double sharpeRatio(double meanReturn, double deviation, double riskFreeRate);
double sortinoRatio(double meanReturn, double downsideDeviation, double riskFreeRate);
double omegaRatio(double a, double d, double riskFreeRate);
// (tp + tn) / (tp + fp + fn + tn); no zero test.
double accuracy(double truePositives, double falsePositives, double falseNegatives, double trueNegatives);
// tp / (fp + tp); no zero test.
double precision(double truePositives, double falsePositives);
// tp / (fn + tp); no zero test.
double recall(double truePositives, double falseNegatives);
// 2pr / (p + r); NaN when p + r is 0.
double f1(double precision, double recall);

// ---- Series metrics ---------------------------------------------------------------------------

// (mean - rf) / sqrt(population variance); NaN when the variance is 0 or the series is empty.
double sharpeRatioFromReturns(std::span<const double> returns, double riskFreeRate);
// (mean - rf) / sqrt(dvar), where dvar is the population variance of the negative returns around
// their own mean (not around 0); NaN when there is none, or when dvar is 0 (a single one).
double sortinoRatioFromReturns(std::span<const double> returns, double riskFreeRate);
// (P - rf) / N with P the sum of the gains and N the signed sum of the losses, so a series with
// gains and losses gives a negative ratio; NaN when N is 0.
double omegaRatioFromReturns(std::span<const double> returns, double riskFreeRate);

// Average result per trade in units of the average loss. Wins are results > 0; losses are all
// others (zero, negative, NaN). With two wins or more the smallest win is dropped. Then
//   (lossRate × avgLoss + winRate × avgWin) / |avgLoss|
// with rates over the remaining trades. NaN when no win remains or there is no loss.
double expectancy(std::span<const double> pnl);

// ---- Drawdown -----------------------------------------------------------------------------------

// The largest fall of an equity curve from a running peak. Positions are indexes into the curve.
struct Drawdown {
  double amount = 0;    // peak value - trough value; 0 for a curve that never falls
  double fraction = 0;  // amount / peak value
  std::optional<size_t> peak;    // where the fall started (absent when there is none)
  std::optional<size_t> trough;  // its lowest point
  // The first point after the trough back at or above the peak value; absent when the curve
  // never recovered.
  std::optional<size_t> recovery;
};

// NaN entries (a bar whose entry is still pending) are skipped. Of equal falls the first counts.
Drawdown maxDrawdown(std::span<const double> equity);

}  // namespace bw
