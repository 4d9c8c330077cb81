#include "core/metrics.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "core/stats.h"

namespace bw {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

double ratioOrNaN(double a, double b) { return b == 0 ? kNoValue : a / b; }
double perCount(double a, uint64_t n) { return n == 0 ? kNoValue : a / static_cast<double>(n); }

}  // namespace

double profitFactor(double grossProfit, double grossLoss) { return ratioOrNaN(grossProfit, grossLoss); }
double avgWinLossRatio(double avgWin, double avgLoss) { return ratioOrNaN(avgWin, avgLoss); }
double longNetProfitRatio(double first, double second) { return ratioOrNaN(-first, second); }
double winRate(uint64_t winning, uint64_t total) { return perCount(static_cast<double>(winning), total); }
double avgTrade(double netProfit, uint64_t count) { return perCount(netProfit, count); }
double avgWinningTrade(double grossProfit, uint64_t count) { return perCount(grossProfit, count); }
double avgLosingTrade(double grossLoss, uint64_t count) { return perCount(grossLoss, count); }

double netProfitPct(double netProfit, double base) { return netProfit / base; }
double grossProfitPct(double grossProfit, double base) { return grossProfit / base; }
double grossLossPct(double grossLoss, double base) { return grossLoss / base; }
double longNetProfitPct(double longNetProfit, double base) { return longNetProfit / base; }
double shortNetProfitPct(double shortNetProfit, double base) { return shortNetProfit / base; }

double pnl(double quantity, double entryPrice, double currentPrice) { return quantity * (currentPrice - entryPrice); }
double expectancyScore(double a, double b) { return a * b; }

double sharpeRatio(double meanReturn, double deviation, double riskFreeRate) {
  return ratioOrNaN(meanReturn - riskFreeRate, deviation);
}
double sortinoRatio(double meanReturn, double downsideDeviation, double riskFreeRate) {
  return ratioOrNaN(meanReturn - riskFreeRate, downsideDeviation);
}
double omegaRatio(double a, double d, double riskFreeRate) { return ratioOrNaN(a - riskFreeRate, d); }

double accuracy(double tp, double fp, double fn, double tn) { return (tp + tn) / (tp + fp + fn + tn); }
double precision(double tp, double fp) { return tp / (fp + tp); }
double recall(double tp, double fn) { return tp / (fn + tp); }
double f1(double p, double r) { return ratioOrNaN(2 * p * r, p + r); }

double sharpeRatioFromReturns(std::span<const double> returns, double riskFreeRate) {
  const double var = variance(returns);
  if (var == 0) return kNoValue;
  return (mean(returns) - riskFreeRate) / std::sqrt(var);
}

double sortinoRatioFromReturns(std::span<const double> returns, double riskFreeRate) {
  std::vector<double> downside;
  for (double r : returns)
    if (r < 0) downside.push_back(r);
  const double dvar = variance(downside);
  if (dvar == 0) return kNoValue;
  return (mean(returns) - riskFreeRate) / std::sqrt(dvar);
}

double omegaRatioFromReturns(std::span<const double> returns, double riskFreeRate) {
  double gains = -0.0, losses = -0.0;
  for (double r : returns) {
    if (r > 0) gains += r;
    else if (r < 0) losses += r;
  }
  return ratioOrNaN(gains - riskFreeRate, losses);
}

double expectancy(std::span<const double> pnl) {
  std::vector<double> wins, losses;
  for (double x : pnl) (x > 0 ? wins : losses).push_back(x);
  // Wins are all > 0, so no NaN reaches the comparison.
  if (wins.size() >= 2) {
    std::sort(wins.begin(), wins.end(), std::greater<double>());
    wins.pop_back();
  }
  const double w = static_cast<double>(wins.size());
  const double l = static_cast<double>(losses.size());
  const double avgWin = sum(wins) / w;
  const double avgLoss = sum(losses) / l;
  const double winRate = w + l == 0 ? 0.0 : w / (w + l);
  const double lossRate = w + l == 0 ? 1.0 : l / (w + l);
  return (lossRate * avgLoss + winRate * avgWin) / std::fabs(avgLoss);
}

Drawdown maxDrawdown(std::span<const double> equity) {
  Drawdown worst;
  std::optional<size_t> peak;
  for (size_t i = 0; i < equity.size(); ++i) {
    const double x = equity[i];
    if (std::isnan(x)) continue;
    if (!peak || x > equity[*peak]) {
      peak = i;
      continue;
    }
    const double fall = equity[*peak] - x;
    if (fall > worst.amount) {
      worst.amount = fall;
      worst.fraction = fall / equity[*peak];
      worst.peak = peak;
      worst.trough = i;
    }
  }
  if (worst.peak)
    for (size_t i = *worst.trough + 1; i < equity.size(); ++i)
      if (equity[i] >= equity[*worst.peak]) {
        worst.recovery = i;
        break;
      }
  return worst;
}

}  // namespace bw
